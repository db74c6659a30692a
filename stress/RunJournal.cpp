#include "stress/RunJournal.h"

#include "platform/Platform.h"

#include <QFile>
#include <QSysInfo>

QString RunJournal::fileName() {
  return "Journal-" + QSysInfo::machineHostName() + ".log";
}

bool RunJournal::begin() {
  discard();
  active_ = true;
  return write("T 00:00:00\n");
}

void RunJournal::add(const QString &line) {
  if (!active_)
    return;
  QString records;
  for (const QString &part : line.split('\n'))
    records += "L " + part + "\n";
  write(records);
}

void RunJournal::tick(const QTime &testTime) {
  if (active_)
    write("T " + testTime.toString("hh:mm:ss") + "\n");
}

void RunJournal::end() {
  if (!active_)
    return;
  active_ = false;
  discard();
}

bool RunJournal::findInterrupted(Interrupted *run) {
  // Only this user's own regular file: never a link or a FIFO.
  std::string journal;
  if (!readOwnFile(fileName().toStdString(), &journal))
    return false;
  *run = Interrupted{{}, QTime(0, 0)};
  // A record cut short by the crash is dropped with its incomplete line.
  const QList<QByteArray> records =
      QByteArray::fromStdString(journal).split('\n');
  for (int i = 0; i + 1 < records.size(); ++i) {
    const QString record = QString::fromUtf8(records[i]);
    if (record.startsWith("L "))
      run->lines << record.mid(2);
    else if (record.startsWith("T ")) {
      const QTime time = QTime::fromString(record.mid(2), "hh:mm:ss");
      if (time.isValid())
        run->testTime = time;
    }
  }
  return true;
}

QStringList RunJournal::Interrupted::shownLines() const {
  return lines +
         QStringList{QString("Le test précédent a été interrompu après %1 : "
                             "la machine s'est probablement figée ou a "
                             "redémarré. Le processeur doit être considéré "
                             "comme instable.")
                         .arg(testTime.toString("hh:mm:ss"))};
}

void RunJournal::discard() { QFile::remove(fileName()); }

bool RunJournal::write(const QString &records) {
  return platform().appendToDisk(fileName().toStdString(),
                                 records.toStdString());
}
