#pragma once

// Turns SIGTERM, SIGINT, SIGHUP, SIGUSR1 and SIGUSR2 into an ordinary quit of
// the running application, so that whatever a quit saves is saved; they stay
// caught until the process ends, so a second one cannot cut the quit's last
// write short (every wait at quit is bounded). SIGPIPE is ignored. Call once,
// after the application object exists.
void quitOnTerminationSignals();
