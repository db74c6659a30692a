#include "about/MakerConfig.h"

ReportRoute BuiltInReportRoute() {
  return {QStringLiteral(VORSK_REPORT_SENDER),
          QStringLiteral(VORSK_REPORT_MAILBOX),
          QStringLiteral(VORSK_REPORT_RELAY), VORSK_REPORT_PORT};
}

QString MakerHomePage() { return QStringLiteral(VORSK_HOME_PAGE); }
