#include <chrono>
#include <iostream>
#include <string>
#include <vector>

// Durations added up, converted and timed.
void Demo1()
{
    using namespace std::chrono;
    using namespace std::chrono_literals;
    std::vector<minutes> laps{3min, 4min, 2min};
    minutes total{};
    for (minutes lap : laps)
        total += lap;
    const auto hoursPart = duration_cast<hours>(total);
    std::cout << hoursPart.count() << "h " << (total - hoursPart).count() << "min\n";
    const auto start = steady_clock::now();
    long sum = 0;
    for (int i = 0; i < 100000; ++i)
        sum += i;
    const auto took = steady_clock::now() - start;
    std::cout << sum << " in " << duration<double, std::milli>(took).count() << " ms\n";
    const seconds day = 24h;
    std::cout << day.count() << " s a day, " << duration_cast<milliseconds>(1.5s).count() << '\n';
    const auto now = system_clock::now();
    std::cout << (now.time_since_epoch() > 0s ? "after 1970" : "before") << '\n';
}
