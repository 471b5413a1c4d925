#include "server/Seed.h"

#include <array>
#include <string_view>

namespace vendoremp::server {

namespace {

constexpr std::array<std::string_view, 40> givenNames = {
    "Amelia",  "Bruno",     "Chloé",  "Dmitri",  "Elena",    "Farah",  "Gérard",     "Hannah",
    "Ibrahim", "Joséphine", "Kenji",  "Lucía",   "Mateo",    "Nadia",  "Oskar",      "Priya",
    "Quentin", "Rósa",      "Samuel", "Thérèse", "Uma",      "Viktor", "Wanjiru",    "Xavier",
    "Yusuf",   "Zoë",       "Aoife",  "Björn",   "Céline",   "Daniel", "Émile",      "Fatima",
    "Grace",   "Håkon",     "Isabel", "Jürgen",  "Kateřina", "Liam",   "Małgorzata", "Noah"};

constexpr std::array<std::string_view, 40> familyNames = {
    "O'Brien",        "Müller",       "García",    "Nakamura",     "D'Angelo",
    "Novák",          "Okafor",       "Lindqvist", "Dubois",       "Kowalski",
    "Ó Súilleabháin", "Rossi",        "Şahin",     "Fernández",    "Nguyen",
    "Smith",          "Van der Berg", "Johansson", "Papadopoulos", "Haddad",
    "Ivanova",        "Bianchi",      "Mbeki",     "Ferreira",     "Łukasik",
    "O'Neill",        "Schäfer",      "Kaur",      "Dvořák",       "MacLeod",
    "Jiménez",        "Andersen",     "Petrović",  "Moreau",       "Kim",
    "Cohen",          "Brennan",      "Nieminen",  "Álvarez",      "N'Diaye"};

// Deterministic, so every demo database holds the same people.
class Lcg
{
public:
    explicit Lcg(std::uint32_t seed) : m_state(seed) {}
    std::uint32_t next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state >> 8;
    }

private:
    std::uint32_t m_state;
};

std::string personName(Lcg &random)
{
    std::string name(givenNames[random.next() % givenNames.size()]);
    name += ' ';
    name += familyNames[random.next() % familyNames.size()];
    return name;
}

} // namespace

SeedData demoSeed()
{
    SeedData data;
    data.vendors = {{12, "Harbourside Office Supplies"},
                    {17, "Brightwater Catering & Events"},
                    {23, "Kestrel \"Express\" Couriers"},
                    {40, "Nørre Print Works"},
                    {-5, "Test vendor <internal>"}};
    Lcg random(2026);
    for (std::int64_t id = 101; id <= 300; ++id)
        data.employees.push_back({id, personName(random), id % 9 != 0});
    // Vendor 12 also keeps three inactive employees (108, 180, 252), which only its selected
    // list shows.
    for (std::int64_t id = 108; id <= 300; id += 8)
        data.links.push_back({12, id});
    for (std::int64_t id = 150; id < 168; id += 2)
        data.links.push_back({17, id});
    for (std::int64_t id : {101, 102, 103})
        data.links.push_back({40, id});
    return data;
}

SeedData generatedSeed(std::int64_t count)
{
    SeedData data;
    data.vendors = {{1, "Benchmark vendor one"}, {2, "Benchmark vendor two"}};
    data.employees.reserve(std::size_t(count));
    Lcg random(7);
    for (std::int64_t id = 1; id <= count; ++id) {
        data.employees.push_back({id, personName(random), true});
        if (id % 4 == 0)
            data.links.push_back({1, id});
        if (id % 2 == 0)
            data.links.push_back({2, id});
    }
    return data;
}

} // namespace vendoremp::server
