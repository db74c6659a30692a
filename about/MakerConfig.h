#pragma once

#include <QString>

// Where bug reports go. The values are fixed when the program is built
// (CMake cache variables VORSK_REPORT_*); an unconfigured build points
// under the reserved ".invalid" domain and so can never send anywhere.
struct ReportRoute {
  QString sender;  // the reports' sender address
  QString mailbox; // the maker's mailbox for reports
  QString relay;   // the server used when the user names none
  quint16 port;    // SMTP port of the relay and of a server the user names
};

ReportRoute BuiltInReportRoute();

// The product's web page shown in the About dialog (VORSK_HOME_PAGE).
QString MakerHomePage();
