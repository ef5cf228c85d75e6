// Process-wide single instances, created on first use and kept until the process exits.
#pragma once

#include <mutex>

// Slot tells apart instances of the same type reached through different names.
template <typename T, int Slot = 1>
class Singleton {
public:
    static T* Instance() {
        static std::once_flag once;
        std::call_once(once, [] { instance_ = new T(); });
        return instance_;
    }

private:
    static inline T* instance_ = nullptr;
};

// Same contract; a type reached through both gets one instance from each, sharing no state.
template <typename T>
class Singleton2 : public Singleton<T, 2> {};
