#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Closes every modal dialog that opens while it lives, so that message
// boxes and nested dialogs never block a test, and records what it closed
// as "title|text|icon" (icon 0 for dialogs that are not message boxes).
class ModalCloser : public QObject {
public:
  ModalCloser() {
    connect(&timer, &QTimer::timeout, this, &ModalCloser::closeModal);
    timer.start(20);
  }

  QStringList closed;

private:
  void closeModal() {
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (!dialog)
      return;
    auto *box = qobject_cast<QMessageBox *>(dialog);
    closed << dialog->windowTitle() + "|" + (box ? box->text() : QString()) +
                  "|" + QString::number(box ? box->icon() : 0);
    dialog->reject();
  }

  QTimer timer;
};
