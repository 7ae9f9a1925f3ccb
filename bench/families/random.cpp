#include <algorithm>
#include <iomanip>
#include <iostream>
#include <map>
#include <numeric>
#include <random>
#include <vector>

// Dice, a normal distribution's histogram, a shuffle.
void Demo1()
{
    std::mt19937 engine(42);
    std::uniform_int_distribution<int> dice(1, 6);
    std::map<int, int> rolls;
    for (int i = 0; i < 600; ++i)
        ++rolls[dice(engine)];
    for (const auto& [face, count] : rolls)
        std::cout << face << ": " << std::setw(4) << count << '\n';
    std::normal_distribution<double> normal(10.0, 2.0);
    std::vector<double> samples(100);
    for (double& sample : samples)
        sample = normal(engine);
    const double mean = std::accumulate(samples.begin(), samples.end(), 0.0) / samples.size();
    std::cout << std::fixed << std::setprecision(3) << "mean " << mean << '\n';
    std::vector<int> deck(10);
    std::iota(deck.begin(), deck.end(), 1);
    std::shuffle(deck.begin(), deck.end(), engine);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::cout << deck.front() << ' ' << unit(engine) << '\n';
}
