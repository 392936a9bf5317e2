// A loopback Modbus TCP server that times a client's poll cycle from the server's side: t0 when
// its answer to the read of 96 registers at 60000 has been sent, t1 when the read of 24 at 60166
// has fully arrived. t1 - t0 is the client's turnaround: wake-up, reassembly, decode, decision
// and the next send, plus one loopback trip. Blocking and single-threaded on purpose: it adds as
// little of its own as it can.
//   poll_server block PORT WARM N LABEL PIDFILE OUT  one client, WARM + N cycles, then close;
//                                                    appends "LABEL ns" samples and a summary
//   poll_server serve PORT                           every client, every request, until killed
//   poll_server report OUT                           the table of what the blocks appended
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint16_t RegisterValue(int address) {
    switch (address) {
    case 60095:
        return 57; // state of charge
    case 60032:
        return 10240; // capacity
    case 60169:
        return 1500; // lifetime PV charge
    default:
        return static_cast<uint16_t>(address % 997);
    }
}

// Repeats a partial recv() or send() until all size bytes are through; false on close or error.
template <typename Step> bool Whole(size_t size, Step step) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadFull(int fd, unsigned char* buffer, size_t size) {
    return Whole(size, [&](size_t done) { return recv(fd, buffer + done, size - done, 0); });
}

bool SendAll(int fd, const std::vector<unsigned char>& bytes) {
    return Whole(bytes.size(), [&](size_t done) {
        return send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    });
}

// The answer to one 12-byte request: registers for a read, the echo for a write.
std::vector<unsigned char> Answer(const unsigned char* rq) {
    const int function = rq[7];
    const int address = rq[8] * 256 + rq[9];
    const int count = rq[10] * 256 + rq[11];
    if (function == 6) {
        return {rq, rq + 12};
    }
    if (function != 3 || count < 1 || count > 125) {
        return {rq[0], rq[1], 0, 0, 0, 3, rq[6], static_cast<unsigned char>(function | 0x80), 1};
    }
    const int length = 3 + 2 * count;
    std::vector<unsigned char> a = {rq[0],
                                    rq[1],
                                    0,
                                    0,
                                    static_cast<unsigned char>(length >> 8),
                                    static_cast<unsigned char>(length & 0xFF),
                                    rq[6],
                                    3,
                                    static_cast<unsigned char>(2 * count)};
    for (int i = 0; i < count; ++i) {
        const uint16_t v = RegisterValue(address + i);
        a.push_back(static_cast<unsigned char>(v >> 8));
        a.push_back(static_cast<unsigned char>(v & 0xFF));
    }
    return a;
}

int Listen(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        std::perror("poll_server: listen");
        std::exit(1);
    }
    return fd;
}

int Accept(int listener) {
    const int fd = accept(listener, nullptr, nullptr);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// CPU time of every thread of a process, in ns, from the scheduler's own account.
int64_t CpuNs(long pid) {
    int64_t total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) {
        return -1;
    }
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') {
            continue;
        }
        std::ifstream stat(tasks + "/" + e->d_name + "/schedstat");
        int64_t ns = 0;
        if (stat >> ns) {
            total += ns;
        }
    }
    closedir(dir);
    return total;
}

long ResidentKiB(long pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

long ReadPid(const char* path) {
    std::ifstream in(path);
    long pid = -1;
    in >> pid;
    return pid;
}

int Block(int port, int warm, int n, const std::string& label, const char* pidFile, const char* out) {
    const int listener = Listen(port);
    std::printf("listening\n");
    std::fflush(stdout);
    const int fd = Accept(listener);
    unsigned char rq[12];
    std::vector<int64_t> samples;
    samples.reserve(static_cast<size_t>(n));
    int64_t t0 = -1;
    int cycles = 0;
    long pid = -1;
    int64_t cpuStart = 0;
    int64_t wallStart = 0;
    while (cycles < warm + n && ReadFull(fd, rq, sizeof rq)) {
        const int64_t arrived = NowNs();
        const int address = rq[8] * 256 + rq[9];
        const int count = rq[10] * 256 + rq[11];
        if (address == 60166 && count == 24 && t0 >= 0) {
            if (cycles >= warm) {
                samples.push_back(arrived - t0);
            }
            ++cycles;
            t0 = -1;
            if (cycles == warm) {
                pid = ReadPid(pidFile);
                cpuStart = CpuNs(pid);
                wallStart = NowNs();
            }
        }
        if (!SendAll(fd, Answer(rq))) {
            break;
        }
        if (address == 60000 && count == 96) {
            t0 = NowNs();
        }
    }
    const int64_t wall = NowNs() - wallStart;
    const int64_t cpu = CpuNs(pid) - cpuStart;
    const long rss = ResidentKiB(pid);
    close(fd);
    close(listener);
    if (static_cast<int>(samples.size()) < n) {
        std::fprintf(stderr, "poll_server: %s did only %zu of %d cycles\n", label.c_str(), samples.size(), n);
        return 1;
    }
    FILE* f = std::fopen(out, "a");
    for (const int64_t s : samples) {
        std::fprintf(f, "%s %" PRId64 "\n", label.c_str(), s);
    }
    std::fprintf(f, "%s= %d %" PRId64 " %" PRId64 " %ld\n", label.c_str(), n, wall, cpu, rss);
    std::fclose(f);
    return 0;
}

int Serve(int port) {
    signal(SIGPIPE, SIG_IGN);
    const int listener = Listen(port);
    std::printf("listening\n");
    std::fflush(stdout);
    for (;;) {
        const int fd = Accept(listener);
        unsigned char rq[12];
        while (ReadFull(fd, rq, sizeof rq) && SendAll(fd, Answer(rq))) {
        }
        close(fd);
    }
}

double Quantile(std::vector<int64_t>& v, double q) {
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())));
    return static_cast<double>(v[i]) / 1000.0;
}

int Report(const char* path) {
    std::ifstream in(path);
    std::map<std::string, std::vector<int64_t>> samples;
    struct Totals {
        int64_t cycles = 0, wall = 0, cpu = 0;
        long rss = 0;
    };
    std::map<std::string, Totals> totals;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string label;
        words >> label;
        if (!label.empty() && label.back() == '=') {
            label.pop_back();
            Totals& t = totals[label];
            int64_t n = 0, wall = 0, cpu = 0;
            long rss = 0;
            words >> n >> wall >> cpu >> rss;
            t.cycles += n;
            t.wall += wall;
            t.cpu += cpu;
            t.rss = std::max(t.rss, rss);
        } else {
            int64_t ns = 0;
            words >> ns;
            samples[label].push_back(ns);
        }
    }
    std::printf("%-18s %7s %9s %9s %9s %10s %12s %9s\n", "client", "cycles", "median", "p90", "p99",
                "cycles/s", "CPU/cycle", "resident");
    std::printf("%-18s %7s %9s %9s %9s %10s %12s %9s\n", "", "", "us", "us", "us", "", "us", "MiB");
    std::map<std::string, double> medians;
    std::map<std::string, double> cpus;
    for (auto& [label, v] : samples) {
        const Totals& t = totals[label];
        medians[label] = Quantile(v, 0.5);
        cpus[label] = static_cast<double>(t.cpu) / 1000.0 / static_cast<double>(t.cycles);
        std::printf("%-18s %7zu %9.1f %9.1f %9.1f %10.0f %12.1f %9.1f\n", label.c_str(), v.size(),
                    medians[label], Quantile(v, 0.9), Quantile(v, 0.99),
                    static_cast<double>(t.cycles) * 1e9 / static_cast<double>(t.wall), cpus[label],
                    static_cast<double>(t.rss) / 1024.0);
    }
    const auto ratio = [&](const char* what, std::map<std::string, double>& m, const char* a, const char* b) {
        if (m.count(a) != 0 && m.count(b) != 0 && m[b] > 0) {
            std::printf("%s %s / %s = %.2f\n", what, a, b, m[a] / m[b]);
        }
    };
    ratio("turnaround median", medians, "modbusclient", "libmodbus");
    ratio("turnaround median", medians, "qmodbustcpclient", "libmodbus");
    ratio("CPU per cycle", cpus, "modbusclient", "qmodbustcpclient");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "block" && argc == 8) {
        return Block(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5], argv[6], argv[7]);
    }
    if (mode == "serve" && argc == 3) {
        return Serve(std::atoi(argv[2]));
    }
    if (mode == "report" && argc == 3) {
        return Report(argv[2]);
    }
    std::fprintf(stderr,
                 "usage: poll_server block PORT WARM N LABEL PIDFILE OUT | serve PORT | report OUT\n");
    return 2;
}
