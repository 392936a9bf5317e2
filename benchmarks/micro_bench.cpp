// The pure work of a poll cycle, one piece at a time: request building, frame reassembly and each
// decoder into a Form. The decoders' files go to a scratch folder.
#include "decode/block_a.h"
#include "decode/block_b.h"
#include "decode/block_c.h"
#include "decode/block_d.h"
#include "decode/decode_context.h"
#include "energy/battery_file.h"
#include "history/history_store.h"
#include "link/frame_reader.h"
#include "link/framing.h"
#include "link/status_pane.h"
#include "model/controls_form.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/file_utils.h"
#include "support/prompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

QByteArray Frame(int tid, const QList<int>& words) {
    const int length = 3 + 2 * static_cast<int>(words.size());
    QByteArray f;
    f.append(char(tid >> 8)).append(char(tid & 0xFF)).append('\0').append('\0');
    f.append(char(length >> 8)).append(char(length & 0xFF)).append('\x01').append('\x03');
    f.append(char(2 * words.size()));
    for (const int w : words) {
        f.append(char((w >> 8) & 0xFF)).append(char(w & 0xFF));
    }
    return f;
}

// words registers with the given ones set, the rest 0.
QList<int> Words(int count, std::initializer_list<std::pair<int, int>> set) {
    QList<int> w(count, 0);
    for (const auto& [index, value] : set) {
        w[index] = value;
    }
    return w;
}

// A serial number of ten "TX" words, versions, rated powers, capacity, PV and grid power, charge.
QByteArray BlockA() {
    QList<int> w = Words(
        96,
        {{10, 0x0103}, {26, 0x0201}, {28, 6000}, {32, 10240}, {71, 65535}, {72, 65436}, {74, 300}, {95, 52}});
    std::fill(w.begin(), w.begin() + 10, 0x5458);
    return Frame(0, w);
}

// The four lifetime counters.
QByteArray BlockB() {
    return Frame(1, Words(24, {{3, 1500}, {9, 700}, {14, 1}, {21, 42}}));
}

// A decoder's surroundings as the program has them, with its requests going nowhere.
struct Surroundings {
    Form form;
    StatusPane status{form};
    SettableClock clock;
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter};
    FileFailures failures{log};
    ControlsForm controls;
    DeviceIdentity identity;
    DecodeContext ctx{form,
                      status,
                      clock,
                      log,
                      failures,
                      [](const QString&, const QString&) { return true; },
                      [this]() -> ControlsForm& { return controls; }};
};

void BM_BuildReadRequest(benchmark::State& state) {
    int32_t tid = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(BuildReadRequest(60000, 96, tid++));
    }
}
BENCHMARK(BM_BuildReadRequest);

// Block A's answer arriving whole, and blocks A and B arriving in chunks of a given size.
void BM_FrameReassembly(benchmark::State& state) {
    const QByteArray stream = BlockA() + BlockB();
    const int chunk = static_cast<int>(state.range(0));
    FrameReader reader;
    for (auto _ : state) {
        int frames = 0;
        for (int at = 0; at < stream.size(); at += chunk) {
            frames += static_cast<int>(reader.feed(stream.mid(at, chunk)).size());
        }
        benchmark::DoNotOptimize(frames);
    }
}
BENCHMARK(BM_FrameReassembly)->Arg(258)->Arg(64)->Arg(7)->Arg(1);

// In a running program the identity is read once, so SNum is filled after the first decode.
void BM_DecodeBlockA(benchmark::State& state) {
    Surroundings s;
    const QByteArray frame = BlockA();
    DecodeBlockA(s.ctx, s.identity, frame);
    for (auto _ : state) {
        DecodeBlockA(s.ctx, s.identity, frame);
    }
}
BENCHMARK(BM_DecodeBlockA);

// Block B with its battery state file (written, then put in place), and that file on its own, so
// that the decode itself is the difference.
void BM_DecodeBlockB(benchmark::State& state) {
    Surroundings s;
    const QByteArray frame = BlockB();
    for (auto _ : state) {
        DecodeBlockB(s.ctx, frame);
    }
}
BENCHMARK(BM_DecodeBlockB);

// The state file of every cycle: the scratch file, then the same bytes put in place.
void WriteStateFiles(Surroundings& s, benchmark::State& state) {
    DecodeBlockB(s.ctx, BlockB());
    for (auto _ : state) {
        FileFailure failure;
        QByteArray bytes;
        benchmark::DoNotOptimize(WriteBatteryTemp(s.form, s.clock, &failure, &bytes) &&
                                 ReplaceFileDeferred(s.form.BatteryToday, bytes, &failure));
    }
}

void BM_BatteryStateFile(benchmark::State& state) {
    Surroundings s;
    WriteStateFiles(s, state);
}
BENCHMARK(BM_BatteryStateFile);

// The same with Battery.txt a link into another folder: the link is followed every cycle and
// its target replaced.
void BM_BatteryStateFileThroughALink(benchmark::State& state) {
    Surroundings s;
    QDir().mkpath(QStringLiteral("linked"));
    QFile::remove(s.form.BatteryToday);
    QFile::link(QStringLiteral("linked/state.txt"), s.form.BatteryToday);
    WriteStateFiles(s, state);
    QFile::remove(s.form.BatteryToday);
}
BENCHMARK(BM_BatteryStateFileThroughALink);

void BM_DecodeBlockC(benchmark::State& state) {
    Surroundings s;
    const QByteArray frame = Frame(2, QList<int>(18, 7));
    for (auto _ : state) {
        s.form.RegisterDetailsText.clear();
        DecodeBlockC(s.ctx, frame);
        s.form.txtStatus.clear();
    }
}
BENCHMARK(BM_DecodeBlockC);

void BM_DecodeBlockD(benchmark::State& state) {
    Surroundings s;
    const QByteArray frame = Frame(3, {65535, 64536, 0, 2500});
    for (auto _ : state) {
        s.form.RegisterDetailsText.clear();
        DecodeBlockD(s.ctx, frame);
        s.form.txtStatus.clear();
    }
}
BENCHMARK(BM_DecodeBlockD);

// The history store's whole cost of a cycle: the hand-over on the poll's thread and, in the
// writer's thread, the row's share of its gathered transaction (a commit every 2,000 cycles, as
// the 2 s timer gives at a 1 ms poll rate). CPU time of every thread of the process.
void HistoryCycles(benchmark::State& state, bool countWriter) {
    Surroundings s;
    CycleRow row;
    const double figures[CycleRow::kFigures] = {52, 100, 0, 0, 2450, 5324.8, 1500, 700, 42, 65536};
    for (int i = 0; i < CycleRow::kFigures; ++i) {
        row.set(i, figures[i]);
    }
    QFile::remove(QStringLiteral("history.sqlite"));
    SystemClock clock;
    HistoryOptions options;
    options.flushMs = 3600 * 1000; // flushed below, at a steady pace
    options.reserveBytes = 0;
    HistoryStore store(clock, s.log, options);
    store.start();
    store.flush();
    int n = 0;
    for (auto _ : state) {
        row.timeMs = clock.now().toMSecsSinceEpoch();
        store.addCycle(row);
        if (++n % 2000 == 0) {
            if (!countWriter) {
                state.PauseTiming();
            }
            store.flush();
            if (!countWriter) {
                state.ResumeTiming();
            }
        }
    }
    store.flush();
}
void BM_HistoryCycle(benchmark::State& state) {
    HistoryCycles(state, true);
}
BENCHMARK(BM_HistoryCycle)->MeasureProcessCPUTime()->UseRealTime()->Iterations(100000);

// The poll's thread's share alone: the writer's work happens while the timing is paused.
void BM_HistoryHandOver(benchmark::State& state) {
    HistoryCycles(state, false);
}
BENCHMARK(BM_HistoryHandOver)->Iterations(100000);

} // namespace

int main(int argc, char** argv) {
    PinLocalTimeZone(); // as the program does: the zone read once, not at every conversion
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    QTemporaryDir scratch;
    if (!scratch.isValid() || !QDir::setCurrent(scratch.path())) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
