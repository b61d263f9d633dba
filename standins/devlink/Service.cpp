// The threads of one initialised period: the delivery thread that hands queued reports and
// notifications to the registered callbacks, and the control pipe with a thread per client.
#include "Simulator.h"

#include "HexText.h"

#include <algorithm>

namespace devlink {
namespace {

struct ThreadStart {
    std::shared_ptr<Service> service;
    UniqueHandle pipe;  // a client's connected pipe instance
    void (*run)(ThreadStart&);
};

DWORD WINAPI serviceThread(void* parameter) {
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        start->run(*start);
    }
    // Each thread holds a reference to the module, so an unload waits for it to leave.
    FreeLibraryAndExitThread(g_self, 0);
    return 0;
}

// Forgets the client threads that have ended (the first two are delivery and listener).
void forgetEndedClients(Service& service) {
    for (size_t i = service.threads.size(); i-- > 2;) {
        if (WaitForSingleObject(service.threads[i].get(), 0) == WAIT_OBJECT_0) {
            service.threads.erase(service.threads.begin() + static_cast<std::ptrdiff_t>(i));
            service.threadIds.erase(service.threadIds.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

// With the lock held; the thread owns `pipe` (closed here when no thread starts).
bool startThread(const std::shared_ptr<Service>& service, void (*run)(ThreadStart&), HANDLE pipe = nullptr) {
    HMODULE self = nullptr;
    auto start = std::make_unique<ThreadStart>(ThreadStart{service, UniqueHandle(pipe), run});
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&g_state), &self)) {
        return false;
    }
    DWORD id = 0;
    UniqueHandle thread(CreateThread(nullptr, 0, serviceThread, start.get(), 0, &id));
    if (!thread) {
        FreeLibrary(self);
        return false;
    }
    start.release();
    forgetEndedClients(*service);
    service->threads.push_back(std::move(thread));
    service->threadIds.push_back(id);
    return true;
}

// Hands one queued item to its callback when one is registered; with the lock held.
void deliver(Locked& hold, Delivery& item) {
    auto found = g_state.hids.find(item.handle);
    const HidState state = found != g_state.hids.end() ? found->second : HidState();
    if (item.notification ? state.notify == nullptr : state.report == nullptr) return;
    static const uint8_t kNothing = 0;  // an empty report still comes with a valid pointer
    const uint8_t* bytes = item.bytes.empty() ? &kNothing : item.bytes.data();
    const DcsHandle told = item.asHandle != 0 ? item.asHandle : item.handle;
    auto call = [&] {
        return item.notification ? state.notify(told, item.notificationClass, item.code)
                                 : state.report(state.reportClient, told, bytes, static_cast<uint32_t>(item.bytes.size()));
    };
    item.result = callOutside(hold, item.handle, [&]() -> LONG {
        if (!item.starved) return call();
        // A library written in C can't pass an exception on; this one notes that one came.
        MemoryStarvation starved;
        try {
            return call();
        } catch (...) {
            item.escaped = true;
            return E_FAIL;
        }
    });
    item.delivered = true;
}

std::string deliveryLine(const Delivery& item) {
    std::string what = (item.notification ? "notification port=" : "report port=") + item.port +
                       " hid=" + num(item.hid) + " handle=" + num(item.handle) +
                       (item.asHandle != 0 ? " as=" + num(item.asHandle) : "");
    what += item.notification ? " class=" + num(item.notificationClass) + " code=" + num(item.code)
                              : " length=" + num(item.bytes.size()) + " bytes=" + standin::hexText(item.bytes);
    if (item.escaped) what += " -> an exception escaped the callback";
    return what + (item.delivered ? " -> delivered result=" + std::to_string(item.result) : " -> not registered");
}

void deliverLoop(ThreadStart& start) {
    Service& service = *start.service;
    Locked hold;
    for (;;) {
        while (!service.stopping && service.queue.empty()) hold.wait(INFINITE);
        if (service.stopping) break;
        std::shared_ptr<Delivery> item = service.queue.front();
        service.queue.pop_front();
        deliver(hold, *item);
        journal(deliveryLine(*item));
        item->done = true;
        changed();
    }
    for (auto& item : service.queue) item->done = true;
    service.queue.clear();
    changed();
}

// Completes an overlapped call; false when it failed, timed out or the service stopped.
bool finishIo(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, HANDLE stop, DWORD timeoutMs, DWORD& bytes) {
    if (!started && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) return false;
    HANDLE waits[2] = {stop, overlapped.hEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, timeoutMs) != WAIT_OBJECT_0 + 1) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, &bytes, FALSE) != 0;
}

std::string answer(Service& service, const std::string& line) {
    try {
        return execute(service, line) + "\n";
    } catch (const std::exception& e) {
        return std::string("error ") + e.what() + "\n";
    }
}

// Answers every whole line of `pending`; false when a reply could not be written.
bool answerLines(Service& service, HANDLE pipe, HANDLE event, std::string& pending) {
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string reply = answer(service, line);
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        DWORD written = 0;
        const BOOL sent = WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), nullptr, &overlapped);
        if (!finishIo(pipe, overlapped, sent, service.stop.get(), kClientIdleMs, written)) return false;
    }
    return true;
}

void serveClient(ThreadStart& start) {
    Service& service = *start.service;
    const HANDLE pipe = start.pipe.get();
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::string pending;
    char buffer[1024];
    while (event && pending.size() <= 65536) {
        if (!answerLines(service, pipe, event.get(), pending)) return;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.get();
        DWORD read = 0;
        const BOOL got = ReadFile(pipe, buffer, sizeof(buffer), nullptr, &overlapped);
        if (!finishIo(pipe, overlapped, got, service.stop.get(), kClientIdleMs, read) || read == 0) return;
        pending.append(buffer, read);
    }
}

HANDLE newInstance() {
    return CreateNamedPipeA(("\\\\.\\pipe\\" + g_name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0,
                            nullptr);
}

// Each client gets a thread of its own, so a silent or slow client never holds up another. The
// next instance exists before a connected one is handed over: a client always finds one.
void servePipe(ThreadStart& start) {
    Service& service = *start.service;
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle pipe = std::move(start.pipe);
    while (event && WaitForSingleObject(service.stop.get(), 0) == WAIT_TIMEOUT) {
        if (!pipe) pipe.reset(newInstance());
        if (!pipe) {
            journal("pipe \\\\.\\pipe\\" + g_name + " not served, error " + num(GetLastError()));
            WaitForSingleObject(service.stop.get(), 1000);
            continue;
        }
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.get();
        ResetEvent(event.get());
        DWORD unused = 0;
        const BOOL connected = ConnectNamedPipe(pipe.get(), &overlapped);
        if ((!connected && GetLastError() == ERROR_PIPE_CONNECTED) ||
            finishIo(pipe.get(), overlapped, connected, service.stop.get(), INFINITE, unused)) {
            UniqueHandle next(newInstance());
            Locked hold;
            if (!service.stopping) startThread(start.service, serveClient, pipe.release());
            pipe = std::move(next);
        } else {
            pipe.reset();  // the client left before it was served
        }
    }
}

}  // namespace

bool startService() {
    auto service = std::make_shared<Service>();
    service->stop.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!service->stop) return false;
    if (!startThread(service, deliverLoop) || !startThread(service, servePipe, newInstance())) {
        service->stopping = true;
        SetEvent(service->stop.get());
        changed();
        return false;
    }
    g_state.service = std::move(service);
    return true;
}

}  // namespace devlink
