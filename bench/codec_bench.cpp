// The cost of decoding the five text fields of one trailer: the program's own 256-entry table
// against Qt's "windows-1252" decoder (ICU underneath); and beside the table, the cost of the
// UTF-8 reading that every shown field goes through, on Windows-1252 fields (the common case)
// and on fields stored as UTF-8.

#include "tag/cp1252.h"
#include "tag/utf8.h"

#include <benchmark/benchmark.h>

#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

struct Field {
    std::size_t at;
    std::size_t width;
};
constexpr std::array<Field, 5> kFields = {{{3, 30}, {33, 30}, {63, 30}, {93, 4}, {97, 30}}};

std::array<char, 128> sampleTrailer() {
    std::array<char, 128> t{};
    t.fill(' ');
    std::memcpy(t.data(), "TAG", 3);
    std::memcpy(t.data() + 3, "L\xe5t nummer 17 \x96 live", 21);
    std::memcpy(t.data() + 33, "Bj\xf6rn Skifs", 12);
    std::memcpy(t.data() + 63,
                "\xc4ngl\xe4 och \x84"
                "citat\x93",
                17);
    std::memcpy(t.data() + 93, "1999", 4);
    std::memcpy(t.data() + 97, "Kommentar med \x80 och \x9c", 22);
    t[127] = 17;
    return t;
}

void Table1252(benchmark::State& state) {
    const auto trailer = sampleTrailer();
    for (auto _ : state) {
        for (const Field f : kFields) {
            QString s =
                sorvel::tag::decode1252(std::as_bytes(std::span(trailer.data() + f.at, f.width)));
            benchmark::DoNotOptimize(s);
        }
    }
}
BENCHMARK(Table1252);

std::array<char, 128> sampleUtf8Trailer() {
    std::array<char, 128> t = sampleTrailer();
    std::fill(t.begin() + 3, t.begin() + 127, ' ');
    std::memcpy(t.data() + 3, "L\xc3\xa5t nummer 17 \xe2\x80\x93 live", 23);
    std::memcpy(t.data() + 33, "Bj\xc3\xb6rn Skifs", 12);
    std::memcpy(t.data() + 63, "\xc3\x84ngl\xc3\xa4 och citat", 17);
    std::memcpy(t.data() + 93, "1999", 4);
    std::memcpy(t.data() + 97, "Kommentar med \xe2\x82\xac", 17);
    return t;
}

// The reading of the five fields as a row stores them (decoded once, outside the loop).
void Utf8Reading(benchmark::State& state, const std::array<char, 128>& trailer) {
    std::array<QString, kFields.size()> fields;
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        fields[i] = sorvel::tag::decode1252(
            std::as_bytes(std::span(trailer.data() + kFields[i].at, kFields[i].width)));
    }
    for (auto _ : state) {
        for (const QString& f : fields) {
            auto r = sorvel::tag::utf8Reading(f);
            benchmark::DoNotOptimize(r);
        }
    }
}
BENCHMARK_CAPTURE(Utf8Reading, Of1252Fields, sampleTrailer());
BENCHMARK_CAPTURE(Utf8Reading, OfUtf8Fields, sampleUtf8Trailer());

void QtDecoder1252(benchmark::State& state) {
    const auto trailer = sampleTrailer();
    QStringDecoder decoder("windows-1252");
    if (!decoder.isValid()) {
        state.SkipWithError("no windows-1252 decoder in this Qt");
        return;
    }
    for (auto _ : state) {
        for (const Field f : kFields) {
            QString s = decoder.decode(
                QByteArrayView(trailer.data() + f.at, static_cast<qsizetype>(f.width)));
            benchmark::DoNotOptimize(s);
        }
    }
}
BENCHMARK(QtDecoder1252);

}  // namespace

BENCHMARK_MAIN();
