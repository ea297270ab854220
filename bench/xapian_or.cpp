// The same OR query run by Xapian's matcher in process: median of RUNS get_mset calls.
#include <xapian.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>
int main(int argc, char** argv) {
    Xapian::Database db(argv[1]);
    const unsigned qnum = std::atoi(argv[2]);
    const int runs = std::atoi(argv[3]);
    std::vector<Xapian::Query> terms;
    for (int i = 4; i < argc; ++i) terms.emplace_back(argv[i]);
    Xapian::Query q(Xapian::Query::OP_OR, terms.begin(), terms.end());
    std::vector<double> ms;
    unsigned hits = 0;
    for (int r = 0; r < runs; ++r) {
        auto t = std::chrono::steady_clock::now();
        Xapian::Enquire e(db);
        e.set_query(q);
        Xapian::MSet m = e.get_mset(0, qnum);
        hits = m.size();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t)
                         .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("p50 %.2f ms, min %.2f ms (%u hits)\n", ms[ms.size() / 2], ms[0], hits);
}
