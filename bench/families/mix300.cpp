#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <queue>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

// A bit of everything: a small inventory, a graph, a tokenizer, a matrix, shapes.
namespace inventory {

struct Product {
    std::string name;
    std::string category;
    double price;
    int stock;
};

class Store {
public:
    void Add(Product product) { products_.push_back(std::move(product)); }

    std::optional<Product> Find(const std::string& name) const
    {
        auto it = std::find_if(products_.begin(), products_.end(),
                               [&](const Product& p) { return p.name == name; });
        if (it == products_.end())
            return std::nullopt;
        return *it;
    }

    double Value() const
    {
        return std::accumulate(products_.begin(), products_.end(), 0.0,
                               [](double sum, const Product& p) { return sum + p.price * p.stock; });
    }

    std::map<std::string, std::vector<std::string>> ByCategory() const
    {
        std::map<std::string, std::vector<std::string>> groups;
        for (const Product& p : products_)
            groups[p.category].push_back(p.name);
        for (auto& [category, names] : groups)
            std::sort(names.begin(), names.end());
        return groups;
    }

    std::vector<Product> Cheapest(std::size_t count) const
    {
        std::vector<Product> sorted = products_;
        std::sort(sorted.begin(), sorted.end(),
                  [](const Product& a, const Product& b) { return a.price < b.price; });
        if (sorted.size() > count)
            sorted.resize(count);
        return sorted;
    }

private:
    std::vector<Product> products_;
};

} // namespace inventory

namespace graph {

using Edges = std::unordered_map<int, std::vector<std::pair<int, int>>>;

std::map<int, int> ShortestPaths(const Edges& edges, int from)
{
    std::map<int, int> distance;
    using Entry = std::pair<int, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    queue.push({0, from});
    while (!queue.empty()) {
        auto [d, node] = queue.top();
        queue.pop();
        if (distance.count(node))
            continue;
        distance[node] = d;
        auto it = edges.find(node);
        if (it == edges.end())
            continue;
        for (auto [next, weight] : it->second)
            if (!distance.count(next))
                queue.push({d + weight, next});
    }
    return distance;
}

std::vector<int> BreadthFirst(const Edges& edges, int from)
{
    std::vector<int> order;
    std::set<int> seen{from};
    std::deque<int> pending{from};
    while (!pending.empty()) {
        int node = pending.front();
        pending.pop_front();
        order.push_back(node);
        auto it = edges.find(node);
        if (it == edges.end())
            continue;
        for (auto [next, weight] : it->second)
            if (seen.insert(next).second)
                pending.push_back(next);
    }
    return order;
}

} // namespace graph

namespace text {

std::vector<std::string> Tokens(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> tokens;
    std::string token;
    while (in >> token)
        tokens.push_back(token);
    return tokens;
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::string Join(const std::vector<std::string>& parts, const std::string& glue)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < parts.size(); ++i)
        out << (i ? glue : "") << parts[i];
    return out.str();
}

std::map<char, int> Letters(const std::string& s)
{
    std::map<char, int> counts;
    for (char c : s)
        if (std::isalpha(static_cast<unsigned char>(c)))
            ++counts[static_cast<char>(std::tolower(static_cast<unsigned char>(c)))];
    return counts;
}

} // namespace text

namespace math {

using Matrix = std::vector<std::vector<double>>;

Matrix Multiply(const Matrix& a, const Matrix& b)
{
    Matrix c(a.size(), std::vector<double>(b[0].size()));
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j < b[0].size(); ++j)
            for (std::size_t k = 0; k < b.size(); ++k)
                c[i][j] += a[i][k] * b[k][j];
    return c;
}

double Determinant(const Matrix& m)
{
    if (m.size() == 1)
        return m[0][0];
    double sum = 0;
    for (std::size_t column = 0; column < m.size(); ++column) {
        Matrix minor;
        for (std::size_t row = 1; row < m.size(); ++row) {
            std::vector<double> line;
            for (std::size_t c = 0; c < m.size(); ++c)
                if (c != column)
                    line.push_back(m[row][c]);
            minor.push_back(line);
        }
        sum += (column % 2 ? -1 : 1) * m[0][column] * Determinant(minor);
    }
    return sum;
}

std::vector<int> Primes(int limit)
{
    std::vector<bool> composite(limit + 1);
    std::vector<int> primes;
    for (int n = 2; n <= limit; ++n) {
        if (composite[n])
            continue;
        primes.push_back(n);
        for (int m = n * n; m <= limit; m += n)
            composite[m] = true;
    }
    return primes;
}

} // namespace math

namespace shapes {

struct Circle {
    double radius;
};
struct Rectangle {
    double width, height;
};
using Shape = std::variant<Circle, Rectangle>;

double Area(const Shape& shape)
{
    return std::visit(
        [](const auto& s) -> double {
            using T = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<T, Circle>)
                return 3.14159265 * s.radius * s.radius;
            else
                return s.width * s.height;
        },
        shape);
}

class Drawing {
public:
    void Add(std::unique_ptr<Shape> shape) { shapes_.push_back(std::move(shape)); }
    double TotalArea() const
    {
        double total = 0;
        for (const auto& shape : shapes_)
            total += Area(*shape);
        return total;
    }

private:
    std::vector<std::unique_ptr<Shape>> shapes_;
};

} // namespace shapes

void Demo1()
{
    inventory::Store store;
    store.Add({"apple", "fruit", 0.5, 100});
    store.Add({"pear", "fruit", 0.7, 50});
    store.Add({"hammer", "tools", 12.0, 5});
    store.Add({"saw", "tools", 20.0, 2});
    store.Add({"milk", "dairy", 1.1, 30});
    std::cout << std::fixed << std::setprecision(2) << "value " << store.Value() << '\n';
    for (const auto& [category, names] : store.ByCategory())
        std::cout << category << ": " << text::Join(names, ", ") << '\n';
    if (auto saw = store.Find("saw"))
        std::cout << "saw costs " << saw->price << '\n';
    for (const auto& p : store.Cheapest(2))
        std::cout << "cheap: " << p.name << '\n';

    graph::Edges edges;
    edges[1] = {{2, 7}, {3, 9}, {6, 14}};
    edges[2] = {{1, 7}, {3, 10}, {4, 15}};
    edges[3] = {{1, 9}, {2, 10}, {4, 11}, {6, 2}};
    edges[4] = {{2, 15}, {3, 11}, {5, 6}};
    edges[6] = {{1, 14}, {3, 2}, {5, 9}};
    for (auto [node, distance] : graph::ShortestPaths(edges, 1))
        std::cout << node << '=' << distance << ' ';
    std::cout << '\n';
    for (int node : graph::BreadthFirst(edges, 1))
        std::cout << node << ' ';
    std::cout << '\n';

    const auto tokens = text::Tokens("the quick brown fox jumps over the lazy dog");
    std::cout << text::Upper(text::Join(tokens, "-")) << '\n';
    for (auto [letter, count] : text::Letters("Hello World"))
        std::cout << letter << count;
    std::cout << '\n';

    math::Matrix a{{1, 2}, {3, 4}};
    math::Matrix b{{5, 6}, {7, 8}};
    auto c = math::Multiply(a, b);
    std::cout << c[0][0] << ' ' << c[1][1] << " det " << math::Determinant(c) << '\n';
    auto primes = math::Primes(100);
    std::cout << primes.size() << " primes, last " << primes.back() << ", sqrt "
              << std::sqrt(static_cast<double>(primes.back())) << '\n';

    shapes::Drawing drawing;
    drawing.Add(std::make_unique<shapes::Shape>(shapes::Circle{1.0}));
    drawing.Add(std::make_unique<shapes::Shape>(shapes::Rectangle{2.0, 3.0}));
    std::cout << "area " << drawing.TotalArea() << '\n';
    std::function<int(int)> fib = [&](int n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); };
    std::cout << "fib " << fib(15) << '\n';
}
