#pragma once

// How long work (a tracing pass, a writer) reports its progress and learns that
// the user wants it to stop. The window program shows a bar and processes
// pending window messages at every step; the command line draws a bar on its
// terminal; tests count the steps.
class TProgressPort
{
public:
    virtual ~TProgressPort();

    // The position that means done; the bar starts again from 0.
    virtual void SetMaximum(int maximum) = 0;
    // The work has reached `position`. Pending window messages (repaints, the
    // cancel button) are handled here, so Cancelled() may change.
    virtual void Step(int position) = 0;
    // True once the user asked the work to stop.
    virtual bool Cancelled() const = 0;
};

// Shows nothing and never cancels.
class TNoProgress : public TProgressPort
{
public:
    void SetMaximum(int) override {}
    void Step(int) override {}
    bool Cancelled() const override { return false; }
};
