// The compile server's second precompiled header, for code that includes one of the heavy
// standard headers below (<regex>, <ranges>, <thread>, ...): "heavy.h.pch", made when the server
// is idle. Its code (what these headers define inline and what the uses below instantiate) is
// compiled once into a library beside the module, "vornak-<hash of heavy.h.pch>.so", so that a
// module only refers to it. Code that includes none of these headers gets the small stdafx.h.
// T.h is included at the end, as in stdafx.h.pch; Print, hidden in each module, is not in the
// library.
#define VORNAK_HEAVY_PCH 1
#include "stdafx.h"

#include <array>
#include <atomic>
#include <bitset>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <iomanip>
#include <list>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <queue>
#include <random>
#include <ranges>
#include <regex>
#include <set>
#include <sstream>
#include <stack>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <variant>

// What code with these headers uses most, used once here so that it is instantiated in the
// precompiled header and compiled into the library. Never called.
#if !defined(VORNAK_HEAVY_USES)
#define VORNAK_HEAVY_USES
inline void VornakHeavyUses()
{
    std::string s = "a1 b2";
    std::regex pattern(s);
    std::regex literal("a+");
    std::regex flagged(s, std::regex::icase);
    std::smatch match;
    (void)std::regex_search(s, match, pattern);
    (void)std::regex_match(s, match, pattern);
    (void)std::regex_match(s, pattern);
    (void)std::regex_search(s, pattern);
    s = std::regex_replace(s, pattern, s);
    s = std::regex_replace(s, pattern, "x");
    for (std::sregex_iterator it(s.begin(), s.end(), pattern), end; it != end; ++it)
        s += it->str() + (*it)[1].str() + std::to_string(it->position());
    for (std::sregex_token_iterator it(s.begin(), s.end(), pattern, -1), end; it != end; ++it)
        s += it->str();
    s += match.str(1) + match.prefix().str() + match.suffix().str();

    std::unordered_map<std::string, int> byName;
    byName[s]++;
    byName.emplace(s, 1);
    (void)byName.count(s), (void)byName.find(s), (void)byName.erase(s);
    std::unordered_map<int, int> byNumber;
    byNumber[1]++;
    (void)byNumber.count(1), (void)byNumber.find(1);
    std::unordered_set<int> numbers{1};
    numbers.insert(1);
    (void)numbers.count(1);
    std::unordered_set<std::string> names{s};
    names.insert(s);
    (void)names.count(s);
    std::set<int> ordered{1};
    ordered.insert(1);
    (void)ordered.count(1), (void)ordered.find(1), (void)ordered.lower_bound(1);
    std::set<std::string> orderedNames{s};
    orderedNames.insert(s);
    (void)orderedNames.count(s);
    std::map<std::string, std::vector<int>> lists;
    lists[s].push_back(1);
    std::deque<int> queue{1};
    queue.push_back(1), queue.push_front(1), queue.pop_front();
    std::queue<int> fifo;
    fifo.push(1), fifo.pop();
    std::priority_queue<int> heap;
    heap.push(1), heap.pop();
    std::stack<int> stack;
    stack.push(1), stack.pop();
    std::list<int> linked{1};
    linked.push_back(1), linked.sort();
    std::vector<std::pair<std::string, int>> pairs{{s, 1}};
    std::sort(pairs.begin(), pairs.end());
    pairs.push_back({s, 1}), pairs.emplace_back(s, 1);
    std::vector<std::pair<int, int>> intPairs{{1, 1}};
    intPairs.push_back({1, 1}), intPairs.emplace_back(1, 1);
    std::sort(intPairs.begin(), intPairs.end());
    std::vector<long> longs(3);
    longs.push_back(1);
    std::vector<long long> longLongs(3);
    longLongs.push_back(1);
    std::vector<std::size_t> sizes(3);
    sizes.push_back(1);
    std::vector<char> chars(3);
    chars.push_back('c');
    std::vector<bool> flags(3);
    flags.push_back(true);
    std::vector<std::vector<int>> grid(3, std::vector<int>(3));
    grid.push_back({1});
    std::vector<std::vector<double>> matrix(3, std::vector<double>(3));
    matrix.push_back({1.0});
    std::map<int, std::vector<int>> groups;
    groups[1].push_back(1);
    std::map<std::string, std::string> texts;
    texts[s] = s;
    std::map<char, int> letters;
    letters['c']++;
    std::map<std::string, double> prices;
    prices[s] += 1.0;
    std::map<int, std::string> labels;
    labels[1] = s;
    std::unordered_map<std::string, std::vector<std::string>> index;
    index[s].push_back(s);
    std::unordered_map<char, int> charCounts;
    charCounts['c']++;
    std::set<char> charSet{'c'};
    std::multimap<std::string, int> multi{{s, 1}};
    (void)multi.count(s);
    for (auto it = ordered.rbegin(); it != ordered.rend(); ++it)
        (void)*it;
    for (auto it = byNumber.begin(); it != byNumber.end(); ++it)
        (void)it->second;

    std::mt19937 engine(std::random_device{}());
    std::mt19937_64 engine64(1);
    std::default_random_engine plain(1);
    std::uniform_int_distribution<int> dice(1, 6);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::bernoulli_distribution coin(0.5);
    (void)dice(engine), (void)unit(engine), (void)normal(engine), (void)coin(engine);
    (void)dice(engine64), (void)unit(engine64), (void)dice(plain);
    std::vector<int> ints(3);
    std::iota(ints.begin(), ints.end(), 0);
    std::shuffle(ints.begin(), ints.end(), engine);
    (void)std::accumulate(ints.begin(), ints.end(), 0);
    (void)std::accumulate(ints.begin(), ints.end(), 0.0);
    std::vector<double> doubles(3);
    (void)std::accumulate(doubles.begin(), doubles.end(), 0.0);
    std::ranges::sort(ints);
    std::ranges::sort(doubles);
    for (int i : std::views::iota(0, 3) | std::views::reverse)
        (void)i;
    for (int i : ints | std::views::reverse | std::views::take(1) | std::views::drop(1))
        (void)i;
    // Views hold the user's lambdas, so their own code is compiled with the user's code; what
    // they check of the ranges they view (vectors, a map, iota) is done here once.
    auto odd = [](int i) { return i % 2 != 0; };
    auto twice = [](int i) { return i * 2; };
    for (int i : ints | std::views::filter(odd) | std::views::transform(twice))
        (void)i;
    for (int i : std::views::iota(0, 9) | std::views::filter(odd) | std::views::take(2) |
                     std::views::drop_while(odd) | std::views::take_while(odd))
        (void)i;
    for (int i : std::views::iota(0) | std::views::transform(twice) | std::views::take(2))
        (void)i;
    for (const std::string& name : byName | std::views::keys)
        (void)name;
    for (int i : lists | std::views::values | std::views::join)
        (void)i;
    for (const auto& [name, i] : std::map<std::string, int>{} | std::views::reverse)
        (void)name, (void)i;
    for (int i : std::map<std::string, int>{} | std::views::values | std::views::filter(odd))
        (void)i;
    for (double d : doubles | std::views::reverse | std::views::drop(1))
        (void)d;
    for (const std::string& name : std::vector<std::string>{} | std::views::filter([](auto&) {
                                       return true;
                                   }))
        (void)name;
    (void)std::ranges::find(ints, 1), (void)std::ranges::find_if(ints, odd);
    (void)std::ranges::count_if(ints, odd), (void)std::ranges::any_of(ints, odd);
    (void)std::ranges::max(ints), (void)std::ranges::min_element(ints);
    (void)std::ranges::distance(ints | std::views::filter(odd));
    std::ranges::reverse(ints);
    std::vector<int> copied;
    std::ranges::copy(ints, std::back_inserter(copied));

    std::ostringstream out;
    out << std::fixed << std::setprecision(2) << std::setw(8) << std::setfill(' ') << 1.0 << 1
        << s << std::left << std::right << std::hex << std::dec << std::boolalpha;
    s = out.str();
    std::istringstream in(s);
    int number = 0;
    in >> number >> s;
    std::stringstream both;
    both << s;
    while (std::getline(both, s, ','))
        ;

    const auto start = std::chrono::steady_clock::now();
    const auto later = std::chrono::system_clock::now() + std::chrono::hours(1);
    const auto took = std::chrono::steady_clock::now() - start;
    (void)std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    (void)std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    (void)std::chrono::duration<double>(took).count();
    (void)std::chrono::duration<double, std::milli>(took).count();
    (void)std::chrono::system_clock::to_time_t(later);
    using namespace std::chrono_literals;
    auto span = 1h + 30min + 15s + 250ms;
    span += 1s;
    (void)std::chrono::duration_cast<std::chrono::seconds>(span).count();
    (void)std::chrono::floor<std::chrono::days>(later);
    (void)(span > 1s);
    std::chrono::minutes minutes = 3min;
    minutes += 2min;
    const std::chrono::hours hours = std::chrono::duration_cast<std::chrono::hours>(minutes);
    (void)(minutes - hours).count(), (void)(minutes + 30s).count(), (void)(hours * 2).count();
    (void)std::chrono::duration_cast<std::chrono::milliseconds>(1.5s).count();
    (void)std::chrono::duration_cast<std::chrono::minutes>(span).count();
    const std::chrono::seconds day = 24h;
    (void)(day / 60).count(), (void)(day / 1min);
    (void)(std::chrono::system_clock::now().time_since_epoch() > 0s);
    (void)(std::chrono::steady_clock::now() - start > 1ms);
    (void)std::chrono::duration<double>(span).count();
    std::vector<std::chrono::minutes> laps{1min};
    for (std::chrono::minutes lap : laps)
        minutes += lap;

    std::mutex lock;
    {
        std::lock_guard<std::mutex> guard(lock);
        std::unique_lock<std::mutex> unique(lock, std::defer_lock);
    }
    std::condition_variable ready;
    ready.notify_all();
    std::atomic<int> counter{0};
    counter++, counter.fetch_add(1), (void)counter.load();
    std::promise<int> promise;
    std::future<int> future = promise.get_future();
    promise.set_value(1);
    (void)future.get();
    std::packaged_task<int()> task([] { return 1; });
    std::future<int> result = std::async(std::launch::async, [] { return 1; });
    (void)result.get();
    std::vector<std::thread> threads;
    threads.emplace_back([] {});
    for (std::thread& thread : threads)
        thread.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    (void)std::thread::hardware_concurrency();

    std::function<int(int)> call = [](int x) { return x; };
    (void)call(1);
    std::optional<int> maybe = 1;
    (void)maybe.value_or(0);
    std::variant<int, std::string> either = 1;
    (void)std::get<int>(either);
    auto shared = std::make_shared<int>(1);
    auto unique = std::make_unique<int>(1);
    std::array<int, 3> fixed{};
    (void)fixed.size();
    std::bitset<8> bits(5);
    (void)bits.count(), (void)bits.to_string();
    (void)std::sqrt(2.0), (void)std::pow(2.0, 3.0);
    std::cout << s << std::endl;
}
#endif

#include "T.h"
