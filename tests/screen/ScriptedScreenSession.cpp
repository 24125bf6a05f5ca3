#include "screen/ScriptedScreenSession.h"

#include "movieprobe/StructuralSimilarity.h"
#include "platform/Graphics.h"
#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/ScrollView.h"
#include "screen/MovieProbe.h"

#include <libyuv/convert_from_argb.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>

namespace rivlo::test {
namespace {

constexpr double kBar = 64;  // the navigation bar's height

// A fixed stream of pseudo-random numbers, the same on every run.
class Numbers {
  public:
    explicit Numbers(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }

  private:
    uint32_t state_;
};

std::string sentences(Numbers& numbers, int count) {
    static const char* const kWords[] = {
        "the",     "leather", "boots", "water",    "brush",   "cream",  "slowly", "and",
        "never",   "heater",  "room",  "paper",    "soft",    "every",  "season", "with",
        "polish",  "laces",   "soles", "stitches", "weather", "winter", "walks",  "mud",
        "careful", "cloth",   "warm",  "hours",    "dry",     "clean",  "feed",   "a",
        "of",      "to",      "is",    "when",     "they",    "your",   "last",   "years"};
    constexpr int kCount = sizeof(kWords) / sizeof(kWords[0]);
    std::string text;
    for (int s = 0; s < count; ++s) {
        const int words = 6 + numbers.below(12);
        for (int w = 0; w < words; ++w) {
            std::string word = kWords[numbers.below(kCount)];
            if (w == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
            if (!text.empty()) text += ' ';
            text += word;
        }
        text += numbers.below(5) == 0 ? "," : ".";
    }
    return text;
}

// A picture such as a page's banner: a sky, hills and soft shading, in width x height pixels
// (pictures on pages come compressed, without a camera's grain).
std::shared_ptr<const Image> picture(int width, int height, double phase) {
    std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double hill = height * (0.55 + 0.12 * std::sin(x * 0.021 + phase) +
                                          0.05 * std::sin(x * 0.067 + 2 * phase));
            double r, g, b;
            if (y < hill) {
                const double t = static_cast<double>(y) / hill;
                r = 90 + 110 * t;
                g = 140 + 80 * t;
                b = 220 + 25 * t;
            } else {
                const double t = (y - hill) / std::max(1.0, height - hill);
                const double shade = 12 * std::sin(x * 0.05 + y * 0.03);
                r = 70 + 60 * t + shade;
                g = 110 + 40 * t + shade;
                b = 50 + 30 * t;
            }
            uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(std::clamp(b, 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(g, 0.0, 255.0));
            p[2] = static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
            p[3] = 255;
        }
    }
    return std::make_shared<const Image>(width, height, 1.0, std::move(bgra));
}

std::shared_ptr<Label> label(const Rect& frame, const std::string& text, double size,
                             Color color = Color::rgb(34, 34, 40), bool bold = false) {
    auto l = std::make_shared<Label>(frame);
    l->setText(text);
    l->setFontSize(size);
    l->setTextColor(color);
    l->setBold(bold);
    l->setNumberOfLines(0);
    return l;
}

// Wrapped text set line by line, lines `pitch` times the size apart as a page's style sheet sets
// them (1.5 for body text), from y on; returns the y below it.
double paragraph(View& parent, double y, const std::string& text, double size,
                 Color color = Color::rgb(34, 34, 34), bool bold = false, double pitch = 1.5) {
    const double width = ScriptedScreenSession::kWidth - 32;
    auto& graphics = *Platform::current().graphics();
    const double lineHeight = std::ceil(size * pitch);
    std::string line, word;
    size_t at = 0;
    auto emit = [&] {
        auto l = label(Rect(16, y, width, lineHeight), line, size, color, bold);
        l->setNumberOfLines(1);
        parent.addSubview(l);
        y += lineHeight;
        line.clear();
    };
    while (at < text.size()) {
        const size_t space = text.find(' ', at);
        word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        const std::string candidate = line.empty() ? word : line + " " + word;
        if (!line.empty() && graphics.textSize(candidate, size, Size{100000, 1000}).width > width) {
            emit();
            line = word;
        } else {
            line = candidate;
        }
    }
    if (!line.empty()) emit();
    return y;
}

std::shared_ptr<View> bar(const std::string& title, Color color) {
    auto view = std::make_shared<View>(Rect(0, 0, ScriptedScreenSession::kWidth, kBar));
    view->setBackgroundColor(color);
    view->addSubview(
        label(Rect(0, 24, ScriptedScreenSession::kWidth, 36), title, 18, Color::white(), true));
    static_cast<Label*>(view->subviews().back().get())->setTextAlignment(TextAlignment::Center);
    return view;
}

std::shared_ptr<ScrollView> scroller(View& screen) {
    auto scroll = std::make_shared<ScrollView>(
        Rect(0, kBar, ScriptedScreenSession::kWidth, ScriptedScreenSession::kHeight - kBar));
    scroll->setBackgroundColor(Color::white());
    scroll->setClipsToBounds(true);
    screen.addSubview(scroll);
    return scroll;
}

// Where the web page's scroll stands at frame `index` of its part (flicks of 140 points over
// two frames, then three frames still).
double webOffset(int index) {
    const int cycle = index / 5, step = index % 5;
    return 140.0 * (2 * cycle + std::min(step, 2));
}

}  // namespace

ScriptedScreenSession::ScriptedScreenSession() : world_(kWidth, kHeight) {
    Numbers numbers(20240607);
    auto window = world_.window();

    // A long article of plain text, as the demo's web article: headings over a coloured rule,
    // paragraphs of sixteen-point text on a warm white.
    const Color paper = Color::rgb(253, 250, 244);
    article_ = std::make_shared<View>(Rect(0, 0, kWidth, kHeight));
    article_->setBackgroundColor(paper);
    article_->addSubview(bar("Caring for solid wood", Color::rgb(122, 75, 18)));
    articleScroll_ = scroller(*article_);
    articleScroll_->setBackgroundColor(paper);
    double y = 16;
    for (int i = 0; i < 20; ++i) {
        if (i % 5 == 0) {
            auto rule = std::make_shared<View>(Rect(16, y + 12, kWidth - 32, 4));
            rule->setBackgroundColor(Color::rgb(226, 201, 160));
            articleScroll_->addSubview(rule);
            y = paragraph(*articleScroll_, y + 24, sentences(numbers, 1), 22,
                          Color::rgb(46, 111, 158), true, 1.2);
        }
        y = paragraph(*articleScroll_, y + 12, sentences(numbers, 3 + numbers.below(2)), 16);
    }
    articleScroll_->setContentSize(Size{kWidth, y + 40});

    // A shop's web page: a banner picture, a headline, products in coloured tiles with names and
    // prices, text, a link and a button.
    web_ = std::make_shared<View>(Rect(0, 0, kWidth, kHeight));
    web_->setBackgroundColor(Color::white());
    web_->addSubview(bar("shop.example.com", Color::rgb(60, 60, 66)));
    webScroll_ = scroller(*web_);
    auto banner = std::make_shared<ImageView>(Rect(0, 0, kWidth, 240));
    banner->setImage(picture(400, 240, 1.0));
    webScroll_->addSubview(banner);
    y = paragraph(*webScroll_, 256, "Oak tables, made to last", 26, Color::black(), true, 1.2);
    y = paragraph(*webScroll_, y + 4, sentences(numbers, 2), 16);
    const Color tiles[] = {Color::rgb(217, 199, 176), Color::rgb(183, 211, 192),
                           Color::rgb(196, 208, 230), Color::rgb(236, 214, 214)};
    for (int row = 0; row < 10; ++row) {
        for (int column = 0; column < 2; ++column) {
            const double x = 16 + column * 188, top = y + 16 + row * 250;
            auto tile = std::make_shared<View>(Rect(x, top, 180, 160));
            tile->setBackgroundColor(tiles[(row * 2 + column) % 4]);
            tile->setCornerRadius(10);
            webScroll_->addSubview(tile);
            webScroll_->addSubview(
                label(Rect(x, top + 166, 180, 40), sentences(numbers, 1).substr(0, 28), 14));
            webScroll_->addSubview(label(Rect(x, top + 206, 180, 24),
                                         "£" + std::to_string(120 + numbers.below(800)) + ".00", 15,
                                         Color::rgb(46, 111, 158), true));
        }
        if (row == 2) {
            const double top = y + 16 + 3 * 250;
            webScroll_->addSubview(label(Rect(20, top, kWidth - 40, 24),
                                         "Read more: how the wood is chosen", 15,
                                         Color::rgb(20, 90, 200)));
            y += 40;
        }
    }
    y += 16 + 10 * 250;
    y = paragraph(*webScroll_, y, sentences(numbers, 5), 16);
    auto button = std::make_shared<View>(Rect(20, y + 20, kWidth - 40, 52));
    button->setBackgroundColor(Color::rgb(46, 173, 91));
    button->setCornerRadius(8);
    button->addSubview(label(Rect(0, 8, kWidth - 40, 36), "Shop the look", 18, Color::white()));
    static_cast<Label*>(button->subviews().back().get())->setTextAlignment(TextAlignment::Center);
    webScroll_->addSubview(button);
    webScroll_->setContentSize(Size{kWidth, y + 100});

    // A form being filled in, with a line of status text that changes now and then.
    form_ = std::make_shared<View>(Rect(0, 0, kWidth, kHeight));
    form_->setBackgroundColor(Color::rgb(244, 244, 248));
    form_->addSubview(bar("Delivery address", Color::rgb(40, 70, 140)));
    const char* const fields[] = {"Name", "Street", "Town", "Postcode", "Telephone"};
    for (int i = 0; i < 5; ++i) {
        const double top = 96 + i * 84;
        form_->addSubview(label(Rect(20, top, 200, 20), fields[i], 13, Color::rgb(90, 90, 96)));
        auto box = std::make_shared<View>(Rect(20, top + 24, kWidth - 40, 44));
        box->setBackgroundColor(Color::white());
        box->setBorderWidth(1);
        box->setBorderColor(Color::rgb(200, 200, 204));
        box->setCornerRadius(6);
        auto typed = label(Rect(12, 0, kWidth - 64, 44), "", 17);
        typed->setNumberOfLines(1);
        box->addSubview(typed);
        typed_.push_back(typed);
        form_->addSubview(box);
    }
    status_ = label(Rect(20, 540, kWidth - 40, 60), "", 14, Color::rgb(90, 90, 96));
    form_->addSubview(status_);

    for (const auto& screen : {article_, web_, form_}) {
        screen->setHidden(true);
        window->addSubview(screen);
    }
    context_ = Platform::current().graphics()->makeBitmapContext(
        Size{double(RVViewVideoHandler::frameWidthForWindowWidth(kWidth)),
             double(RVViewVideoHandler::frameHeightForWindowHeight(kHeight))},
        true, 1.0);
}

ScriptedScreenSession::~ScriptedScreenSession() = default;

void ScriptedScreenSession::show(int index) {
    index = std::clamp(index, 0, kFrames - 1);
    article_->setHidden(index >= 40);
    web_->setHidden(index < 40 || index >= 100);
    form_->setHidden(index < 100);
    if (index < 40) {
        // Four seconds of skimming (the text scrolls on every frame), eight of reading (a third
        // of a screen every two seconds), then eight seconds still.
        const int frame = std::min(index, 23);
        const double skim = 30.0 * std::min(frame, 8);
        articleScroll_->setContentOffset(Point{0, skim + 240.0 * (std::max(frame - 8, 0) / 4)});
    } else if (index < 100) {
        // Twenty seconds of flicks and pauses, then ten seconds still.
        webScroll_->setContentOffset(Point{0, webOffset(std::min(index - 40, 39))});
    } else {
        // Ten seconds of typing: a letter a frame, every fourth frame a pause.
        static const char* const kTyped[] = {"Ada Lovelace", "12 St James's Square", "London",
                                             "SW1Y 4JH", "020 7946 0000"};
        int letters = (index - 100) - (index - 100) / 4;
        for (size_t i = 0; i < typed_.size(); ++i) {
            const std::string full = kTyped[i];
            const int n = std::min<int>(letters, static_cast<int>(full.size()));
            typed_[i]->setText(full.substr(0, static_cast<size_t>(n)));
            letters -= n;
        }
        status_->setText(index >= 110 ? "Checking the address… " + std::to_string(index - 109)
                                      : "");
    }
}

Image ScriptedScreenSession::draw(int index) {
    show(index);
    RVViewVideoHandler::sharedHandler()->drawFrame(*context_);
    return context_->makeImage();
}

std::vector<std::shared_ptr<const Image>> ScriptedScreenSession::drawAll() {
    std::vector<std::shared_ptr<const Image>> frames;
    for (int i = 0; i < kFrames; ++i) {
        auto image = std::make_shared<const Image>(draw(i));
        if (!frames.empty() && frames.back()->bytes() == image->bytes()) image = frames.back();
        frames.push_back(std::move(image));
    }
    return frames;
}

bool recordFrames(MovieWriterFactory& factory, const std::string& path,
                  const std::vector<std::shared_ptr<const Image>>& frames, double averageBitRate,
                  std::string* error) {
    auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        return false;
    };
    if (frames.empty()) return fail("no frames");
    std::string reason;
    auto writer = factory.createWriter(path, MovieFileType::QuickTimeMovie, &reason);
    if (!writer) return fail(reason);
    VideoOutputSettings settings;
    settings.width = frames.front()->width();
    settings.height = frames.front()->height();
    settings.averageBitRate = averageBitRate;
    settings.maxKeyFrameInterval = static_cast<float>(1 / ScriptedScreenSession::kInterval);
    auto input = factory.createVideoInput(settings);
    input->setExpectsMediaDataInRealTime(true);
    auto adaptor = factory.createPixelBufferAdaptor(input, PixelFormat::BGRA32);
    if (!adaptor || !writer->addInput(input) || !writer->startWriting()) {
        return fail("the writer did not start: " + writer->errorDescription());
    }
    writer->startSessionAtSourceTime(MediaTime{0, ScriptedScreenSession::kTimescale});
    PixelBuffer buffer(settings.width, settings.height);
    const Image* previous = nullptr;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (!waitUntil([&] { return input->isReadyForMoreMediaData(); }, 30)) {
            return fail("the writer stopped taking frames: " + writer->errorDescription());
        }
        const auto result = RVViewVideoHandler::appendFrameImage(
            *adaptor, buffer, *frames[i], previous,
            ScriptedScreenSession::frameTime(static_cast<int>(i)));
        if (result == RVViewVideoHandler::FrameAppend::Refused) {
            return fail("frame " + std::to_string(i) + " was refused");
        }
        previous = frames[i].get();
    }
    input->markAsFinished();
    writer->endSessionAtSourceTime(
        MediaTime{static_cast<int64_t>(ScriptedScreenSession::endSeconds() *
                                       ScriptedScreenSession::kTimescale),
                  ScriptedScreenSession::kTimescale});
    std::atomic<bool> done{false};
    writer->finishWriting([&done] { done = true; });
    if (!waitUntil([&] { return done.load(); }, 60)) return fail("the movie was not finished");
    if (writer->status() != MovieWriterStatus::Completed) {
        return fail("the movie failed: " + writer->errorDescription());
    }
    return true;
}

MovieSimilarity movieSimilarity(const std::string& path,
                                const std::vector<std::shared_ptr<const Image>>& frames,
                                media::MovieProbe* probe) {
    MovieSimilarity result;
    result.lowest = 1;
    double total = 0;
    // The frame converted last, kept while the frames repeat it.
    const Image* converted = nullptr;
    std::vector<uint8_t> planes;
    media::PicturePlanes reference;
    auto found = media::MovieProbe::open(path, [&](const media::PicturePlanes& picture) {
        const size_t index = result.pictures++;
        if (index >= frames.size()) return;
        const Image& frame = *frames[index];
        if (converted != &frame) {
            const int w = frame.width(), h = frame.height();
            const int cw = (w + 1) / 2, ch = (h + 1) / 2;
            planes.resize(static_cast<size_t>(w) * h + 2 * static_cast<size_t>(cw) * ch);
            reference.width = w;
            reference.height = h;
            reference.data[0] = planes.data();
            reference.data[1] = planes.data() + static_cast<size_t>(w) * h;
            reference.data[2] = reference.data[1] + static_cast<size_t>(cw) * ch;
            reference.stride[0] = w;
            reference.stride[1] = reference.stride[2] = cw;
            libyuv::ARGBToI420(
                frame.bytes().data(), static_cast<int>(frame.bytesPerRow()), planes.data(), w,
                planes.data() + static_cast<size_t>(w) * h, cw,
                planes.data() + static_cast<size_t>(w) * h + static_cast<size_t>(cw) * ch, cw, w,
                h);
            converted = &frame;
        }
        const double similarity = media::structuralSimilarity(reference, picture);
        total += similarity;
        result.perPicture.push_back(similarity);
        result.lowest = std::min(result.lowest, similarity);
    });
    if (result.pictures > 0) result.mean = total / static_cast<double>(result.pictures);
    if (probe) *probe = std::move(found);
    return result;
}

}  // namespace rivlo::test
