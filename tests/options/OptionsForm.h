#pragma once

#include "app/Vorsk.h"
#include "settings/Options.h"

#include <QSettings>

#include <type_traits>

// The dialog restyles the window as the program's window asks it to.
inline Options::Restyle restyleOf(Vorsk &w) {
  return [&w](const QString &style, bool palette) {
    w.ChangeStyle(style, palette);
  };
}

// The dialog's controls as a user reaches them: by their names.
inline Ui_OptionsClass ui(Options &o) {
  Ui_OptionsClass u{};
  const auto find = [&o](auto *&field, const char *name) {
    field = o.findChild<std::remove_reference_t<decltype(field)>>(name);
    if (!field)
      qFatal("the options dialog has no %s", name);
  };
  find(u.checkMaxTemp, "checkMaxTemp");
  find(u.spinMaxTemp, "spinMaxTemp");
  find(u.checkShutdown, "checkShutdown");
  find(u.checkExportTXT, "checkExportTXT");
  find(u.checkPalette, "checkPalette");
  find(u.comboMonitoring, "comboMonitoring");
  find(u.labelMonitoring, "labelMonitoring");
  find(u.labelAbsence, "labelAbsence");
  find(u.comboTCPU, "comboTCPU");
  find(u.labelTCPU, "labelTCPU");
  find(u.comboVcore, "comboVcore");
  find(u.labelVcore, "labelVcore");
  find(u.comboStyle, "comboStyle");
  find(u.comboSucces, "comboSucces");
  find(u.comboFail, "comboFail");
  find(u.pushSucces, "pushSucces");
  find(u.pushFail, "pushFail");
  find(u.pushOk, "pushOk");
  return u;
}

inline QVariant stored(const QString &key) {
  return QSettings("Vorsk.ini", QSettings::IniFormat).value(key);
}

inline QStringList texts(const QComboBox *combo) {
  QStringList list;
  for (int i = 0; i < combo->count(); ++i)
    list << combo->itemText(i);
  return list;
}
