#include "app/SystemLabels.h"

#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"
#include "sysinfo/SystemSummary.h"

#include <QFontMetrics>
#include <QLabel>

namespace sysinfo {

namespace {

// The whole text when the label holds it; else the short one, cut to the
// label if it must be, with the whole text in the tool tip.
void fitText(QLabel *label, const QString &whole, const QString &brief) {
  const QFontMetrics fm = label->fontMetrics();
  const int room = label->contentsRect().width();
  const bool fits = fm.horizontalAdvance(whole) <= room;
  if (fits)
    label->setText(whole);
  else if (fm.horizontalAdvance(brief) <= room)
    label->setText(brief);
  else
    label->setText(fm.elidedText(brief, Qt::ElideRight, room));
  label->setToolTip(fits ? QString() : whole);
}

} // namespace

void fillSystemLabels(QLabel *name, QLabel *instructions, QLabel *frequency,
                      QLabel *cacheL2, QLabel *configuration) {
  const SystemInfo &info = m_SystemInfo;
  name->setText(processorNameText(info));
  fitText(instructions, instructionsText(info.Instructions),
          shortInstructionsText(info.Instructions));
  frequency->setText(frequencyText(info.Frequency));
  QString cache = cacheL2Text(info);
  if (!cache.isEmpty())
    fitText(cacheL2, cache, QString(cache).remove(' '));
  configuration->setText(configurationText(info));
}

} // namespace sysinfo
