#pragma once

// A descriptor that turns readable when the program is asked to end: SIGTERM
// (logout, shutdown, kill), SIGHUP (the session went away) or SIGINT. The
// program then closes its window as if the user had: its workers are
// stopped and its log written. -1 when the handlers could not be installed.
int terminationRequests();
