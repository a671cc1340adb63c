// allocbench: counts the heap allocations the drive layer makes per drive
// command, against a simulated drive reached through the real platform path
// (pass-through on drive letter L, or the ASPI layer beside the program).
//
//   allocbench L N        N commands of each kind on drive letter L (NT path)
//   allocbench aspi N     the same through WNASPI32.DLL (95-family path)
//
// Counted: every call the program's own code makes to the C++ allocator
// (operator new), to the C runtime (malloc, calloc, realloc) and to the Win32
// heap functions (HeapAlloc, HeapReAlloc, LocalAlloc, GlobalAlloc,
// VirtualAlloc). The program is linked statically, so all of its code calls
// the system through this module's import table, which is patched here.
// Allocations inside the system's own DLLs (Wine's DeviceIoControl, for
// example) are the platform's and are not counted.
#include "drive/drivecommands.h"
#include "drive/speedcontrol.h"
#include "drive/transport.h"
#include "tests/fakes/fakepanel.h"

#include <windows.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<long> g_allocs{0};

// The original entry points, taken from the import table before it is patched.
enum {
    kHeapAlloc,
    kHeapReAlloc,
    kLocalAlloc,
    kGlobalAlloc,
    kVirtualAlloc,
    kMalloc,
    kCalloc,
    kRealloc,
    kHooks
};
void* g_real[kHooks] = {};

template <class F> F Real(int i) {
    return reinterpret_cast<F>(g_real[i]);
}

LPVOID WINAPI CountHeapAlloc(HANDLE h, DWORD f, SIZE_T n) {
    ++g_allocs;
    return Real<decltype(&HeapAlloc)>(kHeapAlloc)(h, f, n);
}
LPVOID WINAPI CountHeapReAlloc(HANDLE h, DWORD f, LPVOID p, SIZE_T n) {
    ++g_allocs;
    return Real<decltype(&HeapReAlloc)>(kHeapReAlloc)(h, f, p, n);
}
HLOCAL WINAPI CountLocalAlloc(UINT f, SIZE_T n) {
    ++g_allocs;
    return Real<decltype(&LocalAlloc)>(kLocalAlloc)(f, n);
}
HGLOBAL WINAPI CountGlobalAlloc(UINT f, SIZE_T n) {
    ++g_allocs;
    return Real<decltype(&GlobalAlloc)>(kGlobalAlloc)(f, n);
}
LPVOID WINAPI CountVirtualAlloc(LPVOID a, SIZE_T n, DWORD t, DWORD p) {
    ++g_allocs;
    return Real<decltype(&VirtualAlloc)>(kVirtualAlloc)(a, n, t, p);
}
void* RealMalloc(size_t n) {
    return g_real[kMalloc] ? Real<void* (*)(size_t)>(kMalloc)(n) : std::malloc(n);
}
void* CountMalloc(size_t n) {
    ++g_allocs;
    return RealMalloc(n);
}
void* CountCalloc(size_t a, size_t b) {
    ++g_allocs;
    return Real<void* (*)(size_t, size_t)>(kCalloc)(a, b);
}
void* CountRealloc(void* p, size_t n) {
    ++g_allocs;
    return Real<void* (*)(void*, size_t)>(kRealloc)(p, n);
}

struct Hook {
    const char* name;
    void* replacement;
};

const Hook kHookTable[kHooks] = {
    {"HeapAlloc", reinterpret_cast<void*>(&CountHeapAlloc)},
    {"HeapReAlloc", reinterpret_cast<void*>(&CountHeapReAlloc)},
    {"LocalAlloc", reinterpret_cast<void*>(&CountLocalAlloc)},
    {"GlobalAlloc", reinterpret_cast<void*>(&CountGlobalAlloc)},
    {"VirtualAlloc", reinterpret_cast<void*>(&CountVirtualAlloc)},
    {"malloc", reinterpret_cast<void*>(&CountMalloc)},
    {"calloc", reinterpret_cast<void*>(&CountCalloc)},
    {"realloc", reinterpret_cast<void*>(&CountRealloc)},
};

// Points this module's import table entries of the allocation functions at
// the counters, which call the originals saved here.
int PatchImports() {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int patched = 0;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         imp->Name; ++imp) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            for (int i = 0; i < kHooks; ++i) {
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), kHookTable[i].name) !=
                    0)
                    continue;
                DWORD old = 0;
                if (!g_real[i]) g_real[i] = reinterpret_cast<void*>(slots->u1.Function);
                VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(kHookTable[i].replacement);
                VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
                ++patched;
            }
        }
    }
    return patched;
}

template <class F> long Count(int n, F&& f) {
    const long before = g_allocs.load();
    for (int i = 0; i < n; ++i)
        f();
    return g_allocs.load() - before;
}

} // namespace

void* operator new(std::size_t n) {
    ++g_allocs;
    if (void* p = RealMalloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: allocbench LETTER|aspi N\n");
        return 2;
    }
    const bool aspi = std::strcmp(argv[1], "aspi") == 0;
    const int n = std::atoi(argv[2]);
    const int patched = PatchImports();
    std::printf("hooks: %d import slots\n", patched);

    // The counter must see an allocation made through each way, or the count
    // below would prove nothing.
    // (Through volatile pointers, so the compiler cannot drop the pairs.)
    {
        static void* volatile sink;
        const long before = g_allocs.load();
        sink = HeapAlloc(GetProcessHeap(), 0, 16);
        HeapFree(GetProcessHeap(), 0, sink);
        sink = std::malloc(16);
        std::free(sink);
        int* volatile boxed = new int(1);
        delete boxed;
        std::printf("selfcheck: %ld of 3\n", g_allocs.load() - before);
    }

    std::uint8_t reply[1024] = {};
    std::uint8_t cdb[velotune::kCdb12];
    int failures = 0;
    long statusAllocs = 0, setAllocs = 0;
    if (aspi) {
        if (velotune::LoadAspi() <= 0) {
            std::printf("error: no ASPI adapter\n");
            return 1;
        }
        statusAllocs = Count(n, [&] {
            if (velotune::AspiExecute(0, 0, velotune::kStatusReadCdb, 12, reply,
                                      velotune::kStatusReadLength, 0) != 1)
                ++failures;
        });
        velotune::BuildModeSetCdb(velotune::kModeHighSpeed, cdb);
        setAllocs = Count(
            n, [&] { velotune::AspiExecute(0, 0, cdb, 12, reply, velotune::kModeSetLength, 0); });
    } else {
        char path[] = "\\\\.\\X:";
        path[4] = argv[1][0];
        HANDLE h =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            std::printf("error: cannot open %s (%lu)\n", path, GetLastError());
            return 1;
        }
        std::uint8_t targets[velotune::kMaxAspiDrives] = {},
                     adapters[velotune::kMaxAspiDrives] = {};
        HANDLE handles[velotune::kMaxNtDrives] = {};
        handles[0] = h;
        velotune::SetDriveTable(1, targets, adapters, handles);
        statusAllocs = Count(n, [&] {
            if (velotune::SendDriveCommand(0, velotune::kStatusReadCdb, 12, reply,
                                           velotune::kStatusReadLength, 0) != 1)
                ++failures;
        });
        velotune::BuildModeSetCdb(velotune::kModeHighSpeed, cdb);
        setAllocs = Count(
            n, [&] { velotune::SendDriveCommand(0, cdb, 12, reply, velotune::kModeSetLength, 0); });
        CloseHandle(h);
    }
    std::printf("commands: %d status reads, %d mode sets, %d failed\n", n, n, failures);
    std::printf("allocs_status_read: %ld\n", statusAllocs);
    std::printf("allocs_mode_set: %ld\n", setAllocs);

    // The panel's handlers over the same drive: discovery once (its 64 KB reply
    // buffer and list texts are per discovery, not per command), then refresh
    // and Set many times.
    // The tests' panel: after the first refresh its texts and lists keep their
    // storage, so what is counted below is the drive layer's.
    vt_test::FakePanel panel;
    velotune::SpeedControl control(panel);
    const long discovery = Count(1, [&] { control.DiscoverDrives(); });
    std::printf("drives: %d status: %s\n", static_cast<int>(panel.drives.size()),
                panel.status.c_str());
    std::printf("allocs_discovery: %ld\n", discovery);
    if (!panel.drives.empty()) {
        std::printf("allocs_refresh: %ld\n", Count(n, [&] { control.RefreshSpeedStatus(); }));
        std::printf("allocs_set: %ld\n", Count(n, [&] { control.SetChosenMode(); }));
    }
    if (!panel.drives.empty() && panel.groupEnabled) {
        // A speed-list drive: the list is built once and then kept, so the refresh
        // above only read the status. Clearing the "built" mark before each refresh
        // makes every one build the list and its texts.
        std::printf("allocs_refresh_build: %ld\n", Count(n, [&] {
                        panel.groupEnabled = false;
                        control.RefreshSpeedStatus();
                    }));
        // Set in the list presentation: parses the selected entry, sends it, and
        // the refresh after it builds the list again.
        control.UseSpeedList();
        std::printf("allocs_set_list: %ld\n", Count(n, [&] {
                        panel.groupEnabled = false;
                        control.SetChosenMode();
                    }));
        std::printf("set_list_entry: %s\n",
                    panel.speedIndex >= 0 ? panel.speeds[panel.speedIndex].c_str() : "none");
    }
    return failures ? 1 : 0;
}
