#include "stress/FailureDetail.h"

#include "platform/WorkerCounters.h"

namespace {
QString word(uint64_t w) {
  return QString::asprintf("0x%016llX", (unsigned long long)w);
}

const char *unitText(int kind) {
  return kind == 0 ? "unité exacte" : "unité aléatoire";
}
} // namespace

const char *failureCheckWord(uint32_t check) {
  switch (check) {
  case FAILURE_EXACT:
    return "exact";
  case FAILURE_REPEAT:
    return "repeat";
  case FAILURE_NOT_FINITE:
    return "notFinite";
  case FAILURE_OPERAND_SUMS:
    return "operandSums";
  case FAILURE_WORKLOAD:
    return "workload";
  case FAILURE_AGREEMENT:
    return "agreement";
  default:
    return "none";
  }
}

QString failureDetailLine(const FailureRecord &r, int worker) {
  const QString path = workerPathName(r.path);
  QString what;
  switch (r.check) {
  case FAILURE_REPEAT:
    what = QString("%1 %2 différente de sa première exécution")
               .arg(unitText(r.kind), path);
    break;
  case FAILURE_NOT_FINITE:
    what = QString("résultat non fini, %1 %2").arg(unitText(r.kind), path);
    break;
  case FAILURE_OPERAND_SUMS:
    what = QString("somme des opérandes, %1 %2").arg(unitText(r.kind), path);
    break;
  case FAILURE_WORKLOAD:
    what = QString("%1 %2").arg(workloadNames(r.kind).text, r.level);
    if (r.partner >= 0)
      what += QString(" avec le processeur %1").arg(r.partner);
    break;
  case FAILURE_AGREEMENT:
    what = QString("références %1").arg(path);
    if (worker >= 0)
      what += QString(" du processeur %1").arg(worker);
    break;
  default:
    what = QString("%1 %2").arg(unitText(r.kind), path);
  }
  const bool workload = r.check == FAILURE_WORKLOAD;
  QString line = "Détail : " + what +
                 QString(workload ? ", tour %1" : ", renouvellement %1")
                     .arg(qlonglong(r.renewal));
  if (r.row >= 0)
    line += QString(", élément (%1, %2)").arg(r.row).arg(r.col);
  else if (workload && r.col >= 0)
    line += QString(", mot %1").arg(r.col);
  line += QString(" : attendu %1, obtenu %2 (bits %3)")
              .arg(word(r.expected), word(r.obtained),
                   word(r.expected ^ r.obtained));
  if (r.elements)
    line += QString(", %1 élément%2 sur %3")
                .arg(r.differing)
                .arg(r.differing > 1 ? "s" : "")
                .arg(r.elements);
  if (r.retries > 0)
    line +=
        QString(", erreur %1 (%2 sur %3)")
            .arg(r.reproduced == r.retries ? "reproductible" : "intermittente")
            .arg(r.reproduced)
            .arg(r.retries);
  const qint64 seconds = qint64(r.elapsedNs / 1000000000ull);
  line += QString::asprintf(", après %02lld:%02lld:%02lld.", seconds / 3600,
                            seconds / 60 % 60, seconds % 60);
  return line;
}
