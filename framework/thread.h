// Starts a worker thread with one argument, through the run-time library so
// that the worker may use it freely.
#pragma once

#include "framework/handles.h"

namespace fw {

using ThreadProc = unsigned(__stdcall*)(void* argument);

struct WorkerThread {
    UniqueHandle handle;  // for suspend, resume and waiting; empty when the start failed
    unsigned id = 0;
};

WorkerThread StartWorkerThread(ThreadProc proc, void* argument);

}  // namespace fw
