// Ctrl-C, SIGTERM and a closed terminal (SIGHUP) close a window program's windows the way their
// close buttons do, so that what happens at a normal close (the session's stop, recordings
// finished and renamed, settings saved) happens then too. The same signal a second time ends the
// program at once, as if nothing were installed, should closing hang.
#pragma once

class QWidget;

namespace kv4r::viewer {

// Installs the handlers; `window` (the main window, which must outlive the event loop) owns what
// watches for them. Main thread, before the event loop runs; later calls do nothing. False
// (nothing installed) when the signal pipe cannot be made.
bool closeOnStopSignals(QWidget* window);

}  // namespace kv4r::viewer
