// Process-wide single instances, created on first use and kept until the process exits.
#pragma once

#include <mutex>

template <typename T>
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

// Same contract; a separate template so that a type may be reached through either without sharing state.
template <typename T>
class Singleton2 {
public:
    static T* Instance() {
        static std::once_flag once;
        std::call_once(once, [] { instance_ = new T(); });
        return instance_;
    }

private:
    static inline T* instance_ = nullptr;
};
