#include "settings/Options.h"

#include "sensors/SensorListing.h"
#include "sensors/SensorSources.h"

namespace {
// Beside each entry's value text (the user role), the number the reader
// takes for index-based sources: the slot or processor number, which differs
// from the list position once an empty slot or processor is skipped.
constexpr int SensorNumberRole = Qt::UserRole + 1;

void fillList(QComboBox *combo, const QVector<SensorEntry> &entries) {
  for (const SensorEntry &entry : entries) {
    combo->addItem(entry.name, entry.valueText);
    combo->setItemData(combo->count() - 1, entry.number, SensorNumberRole);
  }
}

bool chosenByName(int source) {
  return source == SOURCE_SYSTOOL || source == SOURCE_EVEREST ||
         source == SOURCE_LMSENSORS;
}

void selectName(QComboBox *combo, const QVariant &stored) {
  const int i = combo->findText(stored.toString(), Qt::MatchFixedString);
  if (i >= 0)
    combo->setCurrentIndex(i);
}

void selectNumber(QComboBox *combo, const QVariant &stored) {
  const int i = combo->findData(stored.toInt(), SensorNumberRole);
  if (i >= 0)
    combo->setCurrentIndex(i);
}

QVariant chosenNumber(const QComboBox *combo) {
  const int i = combo->currentIndex();
  return i < 0 ? -1 : combo->itemData(i, SensorNumberRole).toInt();
}
} // namespace

void Options::on_comboMonitoring_currentIndexChanged(int index) {
  ui.comboTCPU->clear();
  ui.comboVcore->clear();
  ui.comboTCPU->setEnabled(false);
  ui.comboVcore->setEnabled(false);
  ui.labelTCPU->setText("-");
  ui.labelVcore->setText("-");
  ui.labelAbsence->clear();
  setLimitControlsEnabled(true);
  if (index == SOURCE_NONE) {
    ui.labelMonitoring->setText("-");
    setLimitControlsEnabled(false);
    return;
  }
  const SensorList list = listSource(index);
  if (!list.present) {
    ui.labelMonitoring->setText("Absent");
    ui.labelAbsence->setText(list.whyAbsent);
    return;
  }
  fillList(ui.comboTCPU, list.temperatures);
  ui.comboTCPU->setEnabled(true);
  // The processor's own sensors have no voltage.
  if (index != SOURCE_INTEL && index != SOURCE_K8) {
    fillList(ui.comboVcore, list.voltages);
    ui.comboVcore->setEnabled(true);
  }
  ui.labelMonitoring->setText(QString::fromUtf8("Présent"));
  if (index == Monitoring)
    preselectSensors(index);
}

void Options::on_comboTCPU_currentIndexChanged(int index) {
  if (index != -1)
    ui.labelTCPU->setText(ui.comboTCPU->itemData(index).toString());
}

void Options::on_comboVcore_currentIndexChanged(int index) {
  if (index != -1)
    ui.labelVcore->setText(ui.comboVcore->itemData(index).toString());
}

void Options::setLimitControlsEnabled(bool enabled) {
  ui.checkMaxTemp->setEnabled(enabled);
  ui.spinMaxTemp->setEnabled(enabled);
  ui.checkExportTXT->setEnabled(enabled);
}

void Options::preselectSensors(int source) {
  if (chosenByName(source)) {
    selectName(ui.comboTCPU, TempSensor);
    selectName(ui.comboVcore, VoltSensor);
  } else {
    selectNumber(ui.comboTCPU, TempSensor);
    selectNumber(ui.comboVcore, VoltSensor);
  }
}

void Options::storeSensorChoice() {
  if (chosenByName(Monitoring)) {
    TempSensor = ui.comboTCPU->currentText();
    VoltSensor = ui.comboVcore->currentText();
  } else {
    TempSensor = chosenNumber(ui.comboTCPU);
    VoltSensor = chosenNumber(ui.comboVcore);
  }
}
