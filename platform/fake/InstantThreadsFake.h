#pragma once

#include "platform/fake/FakePlatform.h"

// A fake on which a thread that is waited for runs its procedure to the end
// at once, as a short sampling thread does on a machine; workers never run.
class InstantThreadsFake : public FakePlatform {
public:
  WaitResult waitForThread(ThreadHandle h, uint32_t ms) override {
    Thread *t = thread(h);
    if (t && !t->worker && !t->suspended && t->exitCode == STILL_ACTIVE)
      t->exitCode = t->proc(t->param);
    return FakePlatform::waitForThread(h, ms);
  }
};
