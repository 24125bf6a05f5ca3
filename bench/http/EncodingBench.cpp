// Query-string encoding of a nested 100-pair dictionary, and multipart body production from
// memory parts.
#include "http/RVAFMultipartBodyStream.h"
#include "http/RVAFQueryStringPair.h"
#include "http/RVAFStreamingMultipartFormData.h"
#include "http/RVAFStringEncoding.h"

#include <benchmark/benchmark.h>

namespace rivlo {
namespace {

// 10 groups of 9 scalar keys plus one 1-element array: 100 pairs in all.
Value nestedParameters() {
    Value params = Value::object();
    for (int g = 0; g < 10; ++g) {
        Value group = Value::object();
        for (int k = 0; k < 9; ++k) {
            group["Key " + std::to_string(k)] = "value/" + std::to_string(g * 10 + k) + " & more";
        }
        group["list"] = Value::array({g});
        params["group" + std::to_string(g)] = group;
    }
    return params;
}

void BM_QueryStringNested100Pairs(benchmark::State& state) {
    const Value params = nestedParameters();
    size_t pairs = RVAFQueryStringPairsFromDictionary(params).size();
    for (auto _ : state) {
        std::string query = RVAFQueryStringFromParametersWithEncoding(params, StringEncoding::UTF8);
        benchmark::DoNotOptimize(query);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pairs));
    state.counters["pairs"] = static_cast<double>(pairs);
    // Seconds per pair (printed with an SI suffix: "n" is nanoseconds).
    state.counters["time_per_pair"] = benchmark::Counter(
        static_cast<double>(pairs),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_QueryStringNested100Pairs);

// A form with `parts` memory parts of `size` bytes, read to the end with 64 KiB reads.
void BM_MultipartBodyFromMemoryParts(benchmark::State& state) {
    const int parts = static_cast<int>(state.range(0));
    const std::string payload(static_cast<size_t>(state.range(1)), 'x');
    std::vector<uint8_t> buffer(64 * 1024);
    uint64_t produced = 0;
    for (auto _ : state) {
        RVAFStreamingMultipartFormData form(RVURLRequest(URL::parse("http://127.0.0.1/u")),
                                            StringEncoding::UTF8);
        for (int i = 0; i < parts; ++i) {
            form.appendPartWithFileData(payload, "field" + std::to_string(i),
                                        "f" + std::to_string(i) + ".bin",
                                        "application/octet-stream");
        }
        const RVURLRequest request = form.requestByFinalizingMultipartFormData();
        auto& stream = *request.HTTPBodyStream;
        stream.open();
        int64_t n;
        while ((n = stream.read(buffer.data(), buffer.size())) > 0)
            produced += static_cast<uint64_t>(n);
        stream.close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(produced));
}
BENCHMARK(BM_MultipartBodyFromMemoryParts)
    ->Args({10, 1024})
    ->Args({50, 64 * 1024})
    ->Args({4, 4 << 20});

}  // namespace
}  // namespace rivlo

BENCHMARK_MAIN();
