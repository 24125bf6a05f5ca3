// Per-frame costs of the screen recorder on the headless device, stage by stage, at three
// phone screen sizes; heap allocations per frame; and the recorder's CPU share and resident
// memory at the default two frames a second.
//
//   bench_screen --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// Stages: drawing the key window (the headless toolkit's Cairo renderer) and taking its pixels;
// painting the sensitive views; copying the frame into the pixel buffer (the floor every other
// stage is compared with); BGRA to YUV 4:2:0 conversion (libyuv, as the writer does it, and
// libswscale for comparison); H.264 encoding per x264 preset; and the pipeline after drawing as
// the recorder runs it (comparison with the last frame, conversion straight from the frame,
// hand-off, encoding and muxing, until the input is ready again) for a changed and for an
// unchanged frame.
//
// The goals are ratios within one run: BM_PipelineWithoutDrawing at most 1.15 x BM_Encode with
// the "ultrafast" preset (the writer's), and BM_PipelineUnchangedFrame at most 0.25 x
// BM_PipelineWithoutDrawing, at each size.

#include "AllocationCounter.h"
#include "foundation/Clock.h"
#include "platform/Graphics.h"
#include "platform/Label.h"
#include "platform/linux/H264RateControl.h"
#include "screen/ScreenRecorderFixture.h"
#include "support/Registrations.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <libyuv/convert_from_argb.h>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstring>
#include <fstream>
#include <thread>

using namespace rivlo;
using rivlo::test::ScreenRecorderWorld;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerScreenRecorder(), true);

struct ScreenSize {
    double width, height;
};
const ScreenSize kSizes[] = {{375, 667}, {390, 844}, {414, 896}};

// A screen like an application's: a bar, rows of text, a password field, a sensitive view.
struct Scene {
    std::unique_ptr<ScreenRecorderWorld> world;
    std::unique_ptr<GraphicsContext> context;
    int width = 0, height = 0;
    AffineTransform windowToFrame;
    std::vector<std::shared_ptr<Label>> labels;

    explicit Scene(ScreenSize size) {
        world = std::make_unique<ScreenRecorderWorld>(size.width, size.height);
        width = RVViewVideoHandler::frameWidthForWindowWidth(size.width);
        height = RVViewVideoHandler::frameHeightForWindowHeight(size.height);
        windowToFrame = RVViewVideoHandler::windowToFrameTransform(
            Rect(0, 0, size.width, size.height), Rect(0, 0, width, height));
        world->addView(Rect(0, 0, size.width, 64), Color::rgb(30, 90, 200));
        for (int i = 0; i < 12; ++i) {
            auto label = std::make_shared<Label>(Rect(16, 80 + i * 44, size.width - 32, 36));
            label->setText("Row " + std::to_string(i) + " — the quick brown fox");
            label->setFontSize(16);
            world->window()->addSubview(label);
            labels.push_back(label);
        }
        auto field = world->addSecureField(Rect(16, size.height - 120, size.width - 32, 40));
        auto secret = world->addView(Rect(size.width - 100, size.height - 60, 100, 40),
                                     Color::rgb(0, 200, 0));
        RVViewVideoHandler::resetSensitiveViews();
        RVViewVideoHandler::addSensitiveView(field);
        RVViewVideoHandler::addSensitiveView(secret);
        context = Platform::current().graphics()->makeBitmapContext(
            Size{double(width), double(height)}, true, 1.0);
    }
    // A typical change between two frames: one line of text.
    void change(int frame) {
        labels[frame % labels.size()]->setText("Changed " + std::to_string(frame));
    }
    Image draw() {
        RVViewVideoHandler::sharedHandler()->drawFrame(*context);
        return context->makeImage();
    }
};

ScreenSize sizeArg(const benchmark::State& state) {
    return kSizes[state.range(0)];
}

std::string sizeLabel(const Scene& s) {
    return std::to_string(s.width) + "x" + std::to_string(s.height);
}

void BM_DrawWindow(benchmark::State& state) {
    Scene scene(sizeArg(state));
    auto window = scene.world->window();
    const Rect bounds = window->bounds();
    int frame = 0;
    for (auto _ : state) {
        scene.change(frame++);
        scene.context->setFillColor(Color::black());
        scene.context->fillRect(Rect(0, 0, scene.width, scene.height));
        scene.context->drawViewHierarchy(
            *window, Rect(bounds.origin, Size{double(scene.width), double(scene.height)}), false);
        Image image = scene.context->makeImage();
        benchmark::DoNotOptimize(image.bytes().data());
    }
    state.SetLabel(sizeLabel(scene));
}

void BM_Occlusion(benchmark::State& state) {
    Scene scene(sizeArg(state));
    for (auto _ : state) {
        RVViewVideoHandler::occludeSensitiveViewsInContext(*scene.context, scene.windowToFrame);
    }
    state.SetLabel(sizeLabel(scene));
}

void BM_CopyToPixelBuffer(benchmark::State& state) {
    Scene scene(sizeArg(state));
    const Image image = scene.draw();
    PixelBuffer buffer(scene.width, scene.height);
    for (auto _ : state) {
        buffer.lockBaseAddress();
        std::memcpy(buffer.baseAddress(), image.bytes().data(),
                    std::min(image.bytes().size(), buffer.dataSize()));
        buffer.unlockBaseAddress();
        benchmark::ClobberMemory();
    }
    state.SetLabel(sizeLabel(scene));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer.dataSize()));
}

// The writer's conversion (libyuv, limited-range BT.601 4:2:0).
void BM_ColourConversion(benchmark::State& state) {
    Scene scene(sizeArg(state));
    const Image image = scene.draw();
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = scene.width;
    frame->height = (scene.height + 1) & ~1;
    av_frame_get_buffer(frame, 0);
    for (auto _ : state) {
        libyuv::ARGBToI420(image.bytes().data(), scene.width * 4, frame->data[0],
                           frame->linesize[0], frame->data[1], frame->linesize[1], frame->data[2],
                           frame->linesize[2], scene.width, scene.height);
        benchmark::ClobberMemory();
    }
    av_frame_free(&frame);
    state.SetLabel(sizeLabel(scene));
}

// The conversion the writer used before, through libswscale: same formats and colour details.
void BM_ColourConversionSwscale(benchmark::State& state) {
    Scene scene(sizeArg(state));
    const Image image = scene.draw();
    SwsContext* sws =
        sws_getContext(scene.width, scene.height, AV_PIX_FMT_BGRA, scene.width, scene.height,
                       AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = scene.width;
    frame->height = (scene.height + 1) & ~1;
    av_frame_get_buffer(frame, 0);
    const uint8_t* src[1] = {image.bytes().data()};
    const int stride[1] = {scene.width * 4};
    for (auto _ : state) {
        sws_scale(sws, src, stride, 0, scene.height, frame->data, frame->linesize);
        benchmark::ClobberMemory();
    }
    av_frame_free(&frame);
    sws_freeContext(sws);
    state.SetLabel(sizeLabel(scene));
}

const char* const kPresets[] = {"ultrafast", "superfast", "veryfast", "faster", "medium"};

// The writer's encoder settings (its rate control included) with a chosen preset, on frames that
// change by one line of text.
void BM_Encode(benchmark::State& state) {
    Scene scene(sizeArg(state));
    const char* preset = kPresets[state.range(1)];
    const int height = (scene.height + 1) & ~1;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    enc->width = scene.width;
    enc->height = height;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{1, 500};
    enc->framerate = AVRational{2, 1};
    enc->gop_size = 2;
    enc->max_b_frames = 0;
    enc->thread_count = 1;
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "preset", preset, 0);
    av_dict_set(&opts, "tune", "zerolatency", 0);
    av_dict_set(&opts, "forced-idr", "1", 0);
    H264RateControl rate(307200, 0.5);
    rate.configure(*enc, &opts);
    av_log_set_level(AV_LOG_ERROR);
    if (avcodec_open2(enc, codec, &opts) < 0) {
        state.SkipWithError("cannot open libx264");
        return;
    }
    av_dict_free(&opts);
    // Two prepared pictures alternate (the line of text changes back and forth).
    AVFrame* frames[2];
    for (int i = 0; i < 2; ++i) {
        scene.change(i);
        const Image image = scene.draw();
        frames[i] = av_frame_alloc();
        frames[i]->format = AV_PIX_FMT_YUV420P;
        frames[i]->width = scene.width;
        frames[i]->height = height;
        av_frame_get_buffer(frames[i], 0);
        libyuv::ARGBToI420(image.bytes().data(), scene.width * 4, frames[i]->data[0],
                           frames[i]->linesize[0], frames[i]->data[1], frames[i]->linesize[1],
                           frames[i]->data[2], frames[i]->linesize[2], scene.width, scene.height);
    }
    AVPacket* packet = av_packet_alloc();
    int64_t pts = 0, bytes = 0;
    for (auto _ : state) {
        AVFrame* f = frames[pts % 2];
        f->pts = pts * 250;
        f->pict_type = (pts % 2 == 0) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        rate.beforeEncoding(*enc, static_cast<double>(pts) * 0.5);
        ++pts;
        avcodec_send_frame(enc, f);
        while (avcodec_receive_packet(enc, packet) == 0) {
            bytes += packet->size;
            av_packet_unref(packet);
        }
    }
    state.counters["bytes_per_frame"] = benchmark::Counter(double(bytes) / double(pts));
    state.SetLabel(sizeLabel(scene) + " " + preset);
    av_packet_free(&packet);
    for (auto* f : frames)
        av_frame_free(&f);
    avcodec_free_context(&enc);
}

// The recorder's per-frame work after drawing (RVViewVideoHandler::appendFrameImage): compare
// with the frame appended last, then either show that picture again or convert it and hand it
// off on this thread while encoding and muxing run on the writer's, until the input is ready for
// the next frame. Changed frames alternate between two pictures that differ by a line of text;
// an unchanged frame has the same pixels (in another image) as the one before.
enum class Frames { Changed, Unchanged, Drawn };
void pipeline(benchmark::State& state, Frames kind) {
    Scene scene(sizeArg(state));
    const std::string path = scene.world->directory() + "/bench.mov";
    FfmpegMovieWriterFactory factory;
    std::string error;
    auto writer = factory.createWriter(path, MovieFileType::QuickTimeMovie, &error);
    auto input = factory.createVideoInput({VideoCodec::H264, scene.width, scene.height, 307200, 2});
    input->setExpectsMediaDataInRealTime(true);
    auto adaptor = factory.createPixelBufferAdaptor(input, PixelFormat::BGRA32);
    writer->addInput(input);
    writer->startWriting();
    writer->startSessionAtSourceTime({0, 500});
    std::shared_ptr<PixelBuffer> buffer;
    adaptor->createPixelBuffer(buffer);
    // Two copies of each picture, so that an unchanged frame is another image with equal pixels.
    Image images[2][2];
    for (int i = 0; i < 2; ++i) {
        scene.change(i);
        images[i][0] = scene.draw();
        images[i][1] = images[i][0];
    }
    int64_t frame = 0;
    const Image* previous = nullptr;
    Image drawn[2];
    int64_t repeated = 0;
    auto one = [&] {
        const Image* image = nullptr;
        if (kind == Frames::Drawn) {
            scene.change(int(frame));
            drawn[frame % 2] = scene.draw();
            image = &drawn[frame % 2];
        } else if (kind == Frames::Changed) {
            image = &images[frame % 2][0];
        } else {
            image = &images[0][frame % 2];
        }
        ++frame;
        const auto result = RVViewVideoHandler::appendFrameImage(*adaptor, *buffer, *image,
                                                                 previous, {frame * 250, 500});
        if (result == RVViewVideoHandler::FrameAppend::Refused) {
            state.SkipWithError("a frame was refused");
        }
        repeated += result == RVViewVideoHandler::FrameAppend::Repeated;
        previous = image;
        // Waits as a caller does, without spinning: the input is ready once the encoder thread
        // has taken the frame, and the next one is converted while that one is encoded, so the
        // poll's delay is not on the encoder's path, while a spinning wait would take CPU from
        // it on a machine with few cores.
        while (!input->isReadyForMoreMediaData())
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    };
    for (int i = 0; i < 20; ++i)
        one();  // steady state: encoder and muxer tables warmed up
    const uint64_t allocationsBefore = bench::allocationCount();
    const int64_t framesBefore = frame, repeatedBefore = repeated;
    for (auto _ : state)
        one();
    const double frames = double(frame - framesBefore);
    const uint64_t allocations = bench::allocationCount() - allocationsBefore;
    state.counters["allocs_per_frame"] = benchmark::Counter(double(allocations) / frames);
    state.counters["repeated_share"] =
        benchmark::Counter(double(repeated - repeatedBefore) / frames);
    state.SetLabel(sizeLabel(scene));
    input->markAsFinished();
    writer->endSessionAtSourceTime({(frame + 1) * 250, 500});
    std::atomic<bool> done{false};
    writer->finishWriting([&] { done = true; });
    while (!done)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void BM_PipelineWithoutDrawing(benchmark::State& state) {
    pipeline(state, Frames::Changed);
}
void BM_PipelineUnchangedFrame(benchmark::State& state) {
    pipeline(state, Frames::Unchanged);
}
void BM_PipelineWithDrawing(benchmark::State& state) {
    pipeline(state, Frames::Drawn);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// The real recorder at its default rate, the main loop turning as a host's would.
void BM_RecorderAtDefaultRate(benchmark::State& state) {
    Scene scene(sizeArg(state));
    ScreenRecorderWorld::setScreenVideoOn(true);
    auto* recorder = RVViewVideoHandler::sharedHandler();
    const double seconds = 10;
    for (auto _ : state) {
        int tick = 0;
        const auto turn = [&] {
            scene.change(tick++ / 50);  // the screen changes now and then
            return false;
        };
        // The baseline: the main loop turning and the screen changing as below, not recorded.
        double cpu0 = cpuSeconds(), wall0 = Clock::monotonic();
        RunLoop::main().runUntil(turn, seconds);
        const double idleShare = (cpuSeconds() - cpu0) / (Clock::monotonic() - wall0);

        const double rssBefore = residentMiB();
        cpu0 = cpuSeconds();
        wall0 = Clock::monotonic();
        recorder->startScreenRecording();
        // The start (movie file, encoder set-up, the first key frame) is paid once a session:
        // the first two seconds are reported on their own, the share is the steady state.
        RunLoop::main().runUntil(turn, 2.0);
        const double startCpuMs = (cpuSeconds() - cpu0 - idleShare * 2.0) * 1000;
        cpu0 = cpuSeconds();
        wall0 = Clock::monotonic();
        RunLoop::main().runUntil(turn, seconds);
        const double share = (cpuSeconds() - cpu0) / (Clock::monotonic() - wall0);
        const double rssDuring = residentMiB();
        std::thread([recorder] { recorder->stopScreenRecording(); }).join();
        RunLoop::main().runUntil([recorder] { return !recorder->isRecording(); }, 30);
        state.SetIterationTime(seconds);
        state.counters["cpu_percent_of_core"] = (share - idleShare) * 100;
        state.counters["first_2s_cpu_ms"] = startCpuMs;
        state.counters["rss_added_MiB"] = rssDuring - rssBefore;
    }
    for (const auto& entry : RVPlistHandler::sharedHandler()->screenVideoEntries()) {
        RVPlistHandler::sharedHandler()->removeScreenVideo(PropertyList::text(entry, "videoName"));
    }
    state.SetLabel(sizeLabel(scene));
}

}  // namespace

BENCHMARK(BM_DrawWindow)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Occlusion)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyToPixelBuffer)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColourConversion)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColourConversionSwscale)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Encode)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3, 4}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineWithoutDrawing)
    ->DenseRange(0, 2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineUnchangedFrame)
    ->DenseRange(0, 2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineWithDrawing)->DenseRange(0, 2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecorderAtDefaultRate)
    ->Arg(0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    RunLoop::main().setMainThread();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
