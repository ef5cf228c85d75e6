#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/singleton.h"

namespace {

struct Counted {
    Counted() { ++constructed; }
    static inline int constructed = 0;
};

}  // namespace

TEST(Singleton, MakesOneInstanceEachThroughSingletonAndSingleton2) {
    std::vector<Counted*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] {
            seen[i] = i % 2 ? Singleton2<Counted>::Instance() : Singleton<Counted>::Instance();
        });
    for (auto& t : threads) t.join();

    Counted* first = Singleton<Counted>::Instance();
    Counted* second = Singleton2<Counted>::Instance();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);  // the two names share no state
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i % 2 ? second : first) << i;
    EXPECT_EQ(Counted::constructed, 2);
}
