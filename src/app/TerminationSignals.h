#pragma once

// Turns SIGTERM, SIGINT and SIGHUP into an ordinary quit of the running
// application, so that whatever a quit saves is saved. A second such signal,
// once the quit is under way, ends the process at once. Call once, after the
// application object exists.
void quitOnTerminationSignals();
