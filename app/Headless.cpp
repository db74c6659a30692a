#include "app/Headless.h"

#include "app/HeadlessOptions.h"
#include "app/HeadlessRun.h"
#include "app/SingleInstance.h"
#include "platform/Platform.h"
#include "settings/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>

int runCommandLine(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("vorsk");
  QCoreApplication::setApplicationVersion(VORSK_VERSION);
  QTextStream out(stdout), err(stderr);
  out.setCodec("UTF-8");
  err.setCodec("UTF-8");

  const HeadlessOptions options =
      parseHeadlessOptions(QCoreApplication::arguments());
  switch (options.request) {
  case HeadlessOptions::Request::Help:
    out << options.helpText;
    return 0;
  case HeadlessOptions::Request::Version:
    out << options.versionText;
    return 0;
  case HeadlessOptions::Request::Invalid:
    err << "vorsk: " << options.error << "\nTry 'vorsk --help'.\n";
    return outcomeExitCode(RunOutcome::Error);
  case HeadlessOptions::Request::Run:
    break;
  }

  // Before the data folder is entered, against the folder the command was
  // started in; hours of testing are not run for a report that cannot be
  // kept.
  const QString unwritable = unwritableTarget(options);
  if (!unwritable.isEmpty()) {
    err << "vorsk: " << unwritable << '\n';
    return outcomeExitCode(RunOutcome::Error);
  }
  QString why;
  if (options.dataFolder.isEmpty())
    enterDataFolder();
  else if (!enterGivenDataFolder(options.dataFolder, &why)) {
    err << "vorsk: " << why << '\n';
    return outcomeExitCode(RunOutcome::Error);
  }
  // The settings, the journal and the logs of a folder serve one run.
  SingleInstance instance(QDir::currentPath(),
                          SingleInstance::Holder::Headless);
  if (!instance.claim()) {
    err << alreadyRunningLine(instance.contactRunning()) << '\n';
    return outcomeExitCode(RunOutcome::Error);
  }

  HeadlessRun run(options, out, err);
  // Connected before the run starts: a request during the identification
  // waits in the pipe and stops the run at its first turn of the loop.
  const int requests = platform().terminationRequests();
  if (requests >= 0) {
    auto *notifier = new QSocketNotifier(requests, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &run,
                     [notifier, &run] {
                       notifier->setEnabled(false);
                       run.Interrupt();
                     });
  }
  QObject::connect(&run, &HeadlessRun::finished, &app, &QCoreApplication::exit);
  if (!run.Start())
    return run.ExitCode();
  return app.exec();
}
