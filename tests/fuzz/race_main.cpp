// Runs a fuzz target's input function from eight threads at once over a corpus, built with the
// thread sanitizer: the monitor calls the pure core from several library threads, so it must
// keep no shared state that two calls could race on.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (const auto& file : std::filesystem::directory_iterator(argv[i], error)) {
            std::ifstream in(file.path(), std::ios::binary);
            inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (inputs.size() >= 2000) break;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs\n");
        return 2;
    }
    constexpr int kThreads = 8;
    const size_t rounds = std::max<size_t>(1, 4000 / inputs.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (size_t round = 0; round < rounds; ++round) {
                for (size_t i = 0; i < inputs.size(); ++i) {
                    const std::string& input = inputs[(i * 7 + static_cast<size_t>(t) * 131) % inputs.size()];
                    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::printf("%zu inputs, %zu rounds, %d threads\n", inputs.size(), rounds, kThreads);
    return 0;
}
