#pragma once
// Keeps the window responsive during a long job on the window thread, and notices a quit
// request that arrives meanwhile.
//
// The window's front end reports a request to quit the application through
// noteQuitRequest (it must not swallow the request: the application still ends once the
// job returns to the event loop). A job asks quitRequested after pumping and, when it
// holds, ends without further work or messages. Window thread only.
class Window;

// Handles the pending events of the window set by setPumpWindow; does nothing without one.
void pumpMessages();
// The window whose events pumpMessages handles (null: none). An install job sets it for its
// length.
void setPumpWindow(Window* window);

// Records that the application has been asked to quit.
void noteQuitRequest();
// True once a quit request has been recorded since the last clearQuitRequest.
bool quitRequested();
// Forgets a recorded quit request; a job calls it when it starts.
void clearQuitRequest();
