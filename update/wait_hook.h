// What a transfer's thread does while it waits for the server. The thread of
// a window gives one that handles the window's messages, so that the window
// repaints and answers while the transfer runs; the transfers themselves know
// no window.
#pragma once

class CWaitHook {
public:
    virtual ~CWaitHook() = default;
    // Handles what is queued for the thread. False once its owner wants the
    // transfer to stop: the transfer then ends as stopped, at once.
    virtual bool HandleMessages() = 0;
};
