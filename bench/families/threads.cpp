#include <future>
#include <iostream>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

// Sums in threads, with futures and a mutex.
void Demo1()
{
    std::vector<long> values(1000);
    std::iota(values.begin(), values.end(), 1);
    auto half = [&](std::size_t from, std::size_t to) {
        return std::accumulate(values.begin() + from, values.begin() + to, 0L);
    };
    std::future<long> first = std::async(std::launch::async, half, 0, 500);
    std::future<long> second = std::async(std::launch::async, half, 500, 1000);
    std::cout << "sum " << first.get() + second.get() << '\n';

    std::mutex lock;
    long total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::lock_guard<std::mutex> guard(lock);
            total += t;
        });
    for (std::thread& thread : threads)
        thread.join();
    std::promise<int> promise;
    std::future<int> answer = promise.get_future();
    std::thread giver([&] { promise.set_value(42); });
    std::cout << total << ' ' << answer.get() << '\n';
    giver.join();
}
