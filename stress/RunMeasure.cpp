#include "stress/RunMeasure.h"

#include "platform/EngineContract.h"

#include <csignal>

namespace {
const int64_t SLEEP_EXCESS_MS = 10000;
const uint64_t UNITS_PER_MS = 10000; // 100-ns units
} // namespace

WorkerUsage MeasureWorker(int64_t wallMs, uint64_t userDelta100ns) {
  const auto processorMs = static_cast<int64_t>(userDelta100ns / UNITS_PER_MS);
  if (wallMs <= 0)
    return {processorMs, 100.0};
  const int64_t excess = wallMs - processorMs;
  if (excess < 0 || excess > SLEEP_EXCESS_MS)
    return {processorMs, 100.0};
  if (userDelta100ns >= uint64_t(wallMs) * UNITS_PER_MS)
    return {wallMs, 100.0};
  return {wallMs, double(userDelta100ns) / (double(wallMs) * 100.0)};
}

double AverageUsage(uint64_t userTimeSum100ns, int64_t testMs,
                    int logicalCount) {
  if (testMs <= 0 || logicalCount <= 0)
    return 0.0;
  return double(userTimeSum100ns / 100) / double(testMs) / logicalCount;
}

int64_t TestMilliseconds(const QTime &testTime) {
  return int64_t(testTime.hour()) * 3600000 + testTime.minute() * 60000 +
         testTime.second() * 1000 + testTime.msec();
}

QString ElapsedText(const QTime &testTime) {
  const int h = testTime.hour();
  const int m = testTime.minute();
  const int s = testTime.second();
  QString text;
  if (h > 0)
    text += QString::number(h) + (h == 1 ? " heure " : " heures ");
  if (h > 0 || m > 0)
    text += QString::number(m) + (m <= 1 ? " minute " : " minutes ");
  text += QString::number(s) + (s <= 1 ? " seconde" : " secondes");
  return text;
}

namespace {
// The signals a faulty processor raises in the code it runs, and what they
// mean.
const char *crashMeaning(int signal) {
  switch (signal) {
  case SIGSEGV:
    return "SIGSEGV : accès mémoire invalide";
  case SIGILL:
    return "SIGILL : instruction illégale";
  case SIGBUS:
    return "SIGBUS : erreur de bus";
  case SIGFPE:
    return "SIGFPE : exception arithmétique";
  case SIGABRT:
    return "SIGABRT : arrêt anormal";
  case SIGTRAP:
    return "SIGTRAP : point d'arrêt inattendu";
  case SIGSYS:
    return "SIGSYS : appel système invalide";
  default:
    return nullptr;
  }
}

QString signalName(int signal) {
  switch (signal) {
  case SIGKILL:
    return "SIGKILL";
  case SIGTERM:
    return "SIGTERM";
  case SIGINT:
    return "SIGINT";
  case SIGHUP:
    return "SIGHUP";
  case SIGQUIT:
    return "SIGQUIT";
  default:
    return QString("signal %1").arg(signal);
  }
}
} // namespace

WorkerEnd DescribeWorkerEnd(int worker, uint32_t code, int signal,
                            int partner) {
  WorkerEnd end;
  if (signal != 0) {
    end.reported = true;
    if (const char *meaning = crashMeaning(signal)) {
      end.calculation = true;
      end.line = QString::asprintf(
          "Le processeur %d s'est arrêté brutalement (%s).", worker, meaning);
    } else {
      end.fromOutside = true;
      end.line = QString::asprintf("Le processus de test du processeur %d a "
                                   "été arrêté de l'extérieur (%s).",
                                   worker, qPrintable(signalName(signal)));
    }
    return end;
  }
  end.reported = true;
  switch (code) {
  case ENGINE_STOPPED:
  case ENGINE_NOTHING_TO_REPORT:
    end.reported = false;
    break;
  case ENGINE_EXACT_MISMATCH:
  case ENGINE_REPEAT_MISMATCH:
  case ENGINE_NOT_FINITE:
  case ENGINE_SELF_CHECK:
    end.calculation = true;
    end.line = QString::asprintf(
        "Le processeur %d a généré une erreur de calcul.", worker);
    break;
  case ENGINE_ALLOCATION:
    end.line =
        QString::asprintf("Thread %d : erreur d'allocation mémoire.", worker);
    break;
  case ENGINE_INITIALISATION:
    end.line =
        QString::asprintf("Thread %d : erreur d'initialisation.", worker);
    break;
  case WORKER_FILE_ACCESS:
    end.line = QString::asprintf("Thread %d : erreur d'accès au fichier %s.",
                                 worker, ENGINE_FILE);
    break;
  default:
    if (int workload = failedWorkload(code); workload >= 0) {
      end.calculation = true;
      end.line = QString::asprintf("Erreur de calcul du processeur %d (%s",
                                   worker, workloadNames(workload).text);
      if (partner >= 0)
        end.line += QString::asprintf(" avec le processeur %d", partner);
      end.line += ").";
      break;
    }
    end.line = QString::asprintf("Le thread %d a généré une erreur (code %u).",
                                 worker, code);
    break;
  }
  return end;
}
