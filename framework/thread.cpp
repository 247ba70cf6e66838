#include "framework/thread.h"

#include <process.h>

namespace fw {

WorkerThread StartWorkerThread(ThreadProc proc, void* argument) {
    WorkerThread thread;
    uintptr_t handle = ::_beginthreadex(nullptr, 0, proc, argument, 0, &thread.id);
    thread.handle.reset(reinterpret_cast<HANDLE>(handle));
    return thread;
}

}  // namespace fw
