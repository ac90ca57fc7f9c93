// Randomized checks against plain reference models: decimal text against
// snprintf, random sequences of text pieces against a std::string, and the
// event queue's merge and discard rules against a std::deque. Each test runs
// from a fixed seed, printed with every failure; DOVEMARL_TEST_SEED replaces
// it to explore further or to replay a failure found that way.
#include <gtest/gtest.h>

#include <windows.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "runtime/text_building.h"
#include "runtime/text_workspace.h"
#include "ui/event_queue.h"
#include "ui/window_codes.h"

namespace {

using namespace dovemarl::runtime;

constexpr uint64_t DefaultSeed = 0x5EED2026;

uint64_t TestSeed() {
    const char* given = std::getenv("DOVEMARL_TEST_SEED");
    return given != nullptr ? std::strtoull(given, nullptr, 0) : DefaultSeed;
}

std::string SeedNote(uint64_t seed) {
    return "seed " + std::to_string(seed) + " (set DOVEMARL_TEST_SEED to replay)";
}

int32_t Position() {
    return CurrentTextWorkspace()->position;
}

// Values that decimal conversion gets wrong when it gets anything wrong:
// near 0, near powers of ten, near the 32-bit and 64-bit limits, and uniform
// ones of every width.
int64_t InterestingValue(std::mt19937_64& random) {
    switch (random() % 6) {
    case 0:
        return static_cast<int64_t>(random() % 2001) - 1000;
    case 1: {
        int64_t power = 1;
        for (uint64_t digits = random() % 19; digits > 0; --digits) {
            power *= 10;
        }
        int64_t nearPower = power + static_cast<int64_t>(random() % 5) - 2;
        return random() % 2 ? nearPower : -nearPower;
    }
    case 2: {
        int64_t limits[] = {INT32_MIN, INT32_MAX, INT64_MIN, INT64_MAX, UINT32_MAX};
        int64_t limit = limits[random() % 5];
        int64_t offset = static_cast<int64_t>(random() % 5);
        return limit < 0 ? limit + offset : limit - offset;
    }
    case 3:
        return static_cast<int32_t>(random());
    case 4: // a uniform width from 1 to 64 bits
        return static_cast<int64_t>(random() >> (random() % 64));
    default:
        return static_cast<int64_t>(random());
    }
}

TEST(RandomizedTextTest, DecimalMatchesSnprintfOverMillionsOfValues) {
    constexpr int Values = 5000000;
    uint64_t seed = TestSeed();
    std::mt19937_64 random(seed);
    int32_t start = TextMark();
    int failures = 0;
    for (int i = 0; i < Values; ++i) {
        int64_t value = InterestingValue(random);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%" PRId64, value);
        int32_t mark = TextMark();
        AppendDecimal(value);
        const char* got = TextBase() + mark;
        size_t length = std::strlen(expected);
        if (std::strcmp(got, expected) != 0 || Position() != mark + static_cast<int32_t>(length)) {
            ADD_FAILURE() << SeedNote(seed) << ", value " << i << ": got \"" << got
                          << "\" ending at " << Position() - mark << ", expected \"" << expected
                          << "\" ending at " << length;
            if (++failures == 5) {
                break;
            }
        }
        TextRelease(mark);
    }
    TextRelease(start);
}

// One step of a piece sequence, as the failure report shows it.
struct Step {
    const char* what;
    int64_t argument;
    int32_t at;
};

std::string Describe(const Step& step) {
    return std::string(step.what) + "(" + std::to_string(step.argument) +
           (step.at == AtPosition ? std::string() : ", at " + std::to_string(step.at)) + ")";
}

std::string Excerpt(const std::string& text) {
    std::string shown;
    for (char c : text.substr(0, 120)) {
        shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    }
    return text.size() > 120 ? shown + "... (" + std::to_string(text.size()) + " bytes)" : shown;
}

// Random sequences of every building call, with marks kept and returned to,
// pieces placed at earlier marks, and pieces long enough to move the buffer;
// after each step the built text must equal the model and end in a NUL.
TEST(RandomizedTextTest, PieceSequencesMatchAStringModel) {
    constexpr int Sequences = 1000;
    constexpr int StepsPerSequence = 300;
    uint64_t seed = TestSeed();
    std::mt19937_64 random(seed);
    std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789 -=,.";
    int32_t start = TextMark();
    for (int sequence = 0; sequence < Sequences; ++sequence) {
        std::string model;                // the text from start to the position
        std::vector<int32_t> marks = {0}; // offsets from start, ascending
        std::vector<Step> steps;
        for (int s = 0; s < StepsPerSequence; ++s) {
            // Marks beyond the position are no longer valid places.
            while (marks.size() > 1 && marks.back() > static_cast<int32_t>(model.size())) {
                marks.pop_back();
            }
            int32_t at = AtPosition;
            int32_t modelAt = static_cast<int32_t>(model.size());
            if (random() % 4 == 0) {
                modelAt = marks[random() % marks.size()];
                at = start + modelAt;
            }
            bool endsInNul = true;
            switch (random() % 9) {
            case 0:
            case 1: { // a text of any length, now and then a long one
                size_t length = random() % 32 == 0 ? random() % 40000 : random() % 24;
                std::string piece;
                for (size_t k = 0; k < length; ++k) {
                    piece += alphabet[random() % alphabet.size()];
                }
                steps.push_back({"text", static_cast<int64_t>(length), at});
                AppendForeignText(piece.c_str(), at);
                model.resize(static_cast<size_t>(modelAt));
                model += piece;
                break;
            }
            case 2:
                steps.push_back({"null text", 0, at});
                AppendForeignText(nullptr, at);
                model.resize(static_cast<size_t>(modelAt));
                break;
            case 3:
            case 4: {
                int64_t value = InterestingValue(random);
                steps.push_back({"decimal", value, at});
                AppendDecimal(value, at);
                model.resize(static_cast<size_t>(modelAt));
                model += std::to_string(value);
                break;
            }
            case 5: { // reserve and fill by hand
                int32_t length = static_cast<int32_t>(random() % 64);
                steps.push_back({"reserve", length, at});
                char* place = TextReserve(length, at);
                ASSERT_NE(place, nullptr) << SeedNote(seed);
                std::memset(place, 'R', static_cast<size_t>(length));
                model.resize(static_cast<size_t>(modelAt));
                model.append(static_cast<size_t>(length), 'R');
                endsInNul = false;
                break;
            }
            case 6: { // never below start, where the other tests' text lies
                int32_t count =
                    static_cast<int32_t>(random() % (std::min<size_t>(model.size(), 7) + 1));
                steps.push_back({"give back", count, AtPosition});
                TextGiveBack(count);
                model.resize(model.size() - static_cast<size_t>(count));
                endsInNul = false;
                break;
            }
            case 7:
                steps.push_back({"seal", 0, AtPosition});
                TextSeal();
                model += '\0';
                break;
            default: { // keep a mark, or go back to one
                if (random() % 2) {
                    marks.push_back(static_cast<int32_t>(model.size()));
                    steps.push_back({"mark", marks.back(), AtPosition});
                } else {
                    int32_t mark = marks[random() % marks.size()];
                    steps.push_back({"release", mark, AtPosition});
                    TextRelease(start + mark);
                    model.resize(static_cast<size_t>(mark));
                }
                endsInNul = false;
                break;
            }
            }
            bool same = Position() - start == static_cast<int32_t>(model.size()) &&
                        std::memcmp(TextBase() + start, model.data(), model.size()) == 0;
            bool nul = !endsInNul || TextBase()[Position()] == '\0';
            if (!same || !nul) {
                std::string built(TextBase() + start, static_cast<size_t>(Position() - start));
                std::string history;
                for (size_t k = steps.size() > 8 ? steps.size() - 8 : 0; k < steps.size(); ++k) {
                    history += " " + Describe(steps[k]);
                }
                FAIL() << SeedNote(seed) << ", sequence " << sequence << ", step " << s
                       << "; last steps:" << history << "\n  got      \"" << Excerpt(built)
                       << "\"\n  expected \"" << Excerpt(model) << "\""
                       << (nul ? "" : "\n  no NUL after the text");
            }
        }
        TextRelease(start);
    }
}

using dovemarl::ui::AnyValue;
using dovemarl::ui::Event;

// The queue's rules, written plainly: an event is not appended when the
// newest queued one has the same code, control, window and type and a code
// below 65537; discarding removes what matches, keeping the rest in order.
class QueueModel {
  public:
    void Append(const Event& event) {
        if (!events_.empty()) {
            const Event& newest = events_.back();
            if (newest.code < 65537 && newest.code == event.code &&
                newest.control == event.control && newest.window == event.window &&
                newest.type == event.type) {
                return;
            }
        }
        events_.push_back(event);
    }
    bool Take(Event* event) {
        if (events_.empty()) {
            return false;
        }
        *event = events_.front();
        events_.pop_front();
        return true;
    }
    void DiscardWindow(int32_t window) {
        std::erase_if(events_, [&](const Event& e) { return e.window == window; });
    }
    void DiscardControl(int32_t code, int32_t control, int32_t window, int32_t type) {
        auto matches = [](int32_t wanted, int32_t value) {
            return wanted == AnyValue || wanted == value;
        };
        std::erase_if(events_, [&](const Event& e) {
            return e.code == code && matches(control, e.control) && matches(window, e.window) &&
                   matches(type, e.type);
        });
    }
    const std::deque<Event>& Events() const { return events_; }

  private:
    std::deque<Event> events_;
};

std::string Show(const Event& e) {
    char shown[80];
    std::snprintf(shown, sizeof shown, "{%d,%d,%d,%d,%d}", e.code, e.control, e.window, e.type,
                  e.data);
    return shown;
}

bool Same(const Event& a, const Event& b) {
    return a.code == b.code && a.control == b.control && a.window == b.window && a.type == b.type &&
           a.data == b.data;
}

std::string ShowAll(const std::vector<Event>& events) {
    std::string shown;
    for (const Event& e : events) {
        shown += Show(e);
    }
    return shown.empty() ? "(empty)" : shown;
}

// Runs on a thread of its own, whose queue starts empty.
void CompareQueueWithModel(uint64_t seed, std::string* failure) {
    constexpr int Steps = 300000;
    // Few distinct values, so that runs of equal events and matches are common;
    // codes on both sides of the merge limit.
    const int32_t codes[] = {dovemarl::ui::EventClose,
                             dovemarl::ui::EventControl,
                             dovemarl::ui::EventTimer,
                             65535,
                             65536,
                             65537,
                             70000};
    std::mt19937_64 random(seed);
    QueueModel model;
    std::vector<std::string> steps;
    auto small = [&](uint64_t count) { return static_cast<int32_t>(random() % count); };
    auto wanted = [&](uint64_t count) { return random() % 3 == 0 ? AnyValue : small(count); };
    for (int s = 0; s < Steps; ++s) {
        uint64_t choice = random() % 10;
        // Appends outweigh takes until the queue is long, then takes catch up.
        if (model.Events().size() > 40 && choice < 6) {
            choice = 6;
        }
        std::string step;
        if (choice < 6) {
            Event event = {codes[random() % 7], small(3), small(3), small(2),
                           static_cast<int32_t>(random())};
            dovemarl::ui::AppendEvent(event);
            model.Append(event);
            step = "append " + Show(event);
        } else if (choice < 8) {
            Event got = {}, expected = {};
            bool taken = dovemarl::ui::TakeEvent(&got);
            bool modelTaken = model.Take(&expected);
            step = "take";
            if (taken != modelTaken || (taken && !Same(got, expected))) {
                *failure = SeedNote(seed) + ", step " + std::to_string(s) + ": took " +
                           (taken ? Show(got) : "nothing") + ", expected " +
                           (modelTaken ? Show(expected) : "nothing");
                return;
            }
        } else if (choice == 8) {
            int32_t window = small(3);
            dovemarl::ui::DiscardWindowEvents(window);
            model.DiscardWindow(window);
            step = "discard window " + std::to_string(window);
        } else {
            int32_t code = random() % 2 ? dovemarl::ui::EventControl : codes[random() % 7];
            int32_t control = wanted(3), window = wanted(3), type = wanted(2);
            dovemarl::ui::DiscardControlEvents(code, control, window, type);
            model.DiscardControl(code, control, window, type);
            step = "discard code " + std::to_string(code) + " control " + std::to_string(control) +
                   " window " + std::to_string(window) + " type " + std::to_string(type);
        }
        steps.push_back(step);
        Event queued[64];
        int count = dovemarl::ui::PeekQueuedEvents(queued, 64);
        const std::deque<Event>& modelled = model.Events();
        bool same = count == static_cast<int>(modelled.size()) && count <= 64;
        for (int k = 0; same && k < count; ++k) {
            same = Same(queued[k], modelled[static_cast<size_t>(k)]);
        }
        if (!same) {
            std::vector<Event> got(queued, queued + std::min(count, 64));
            std::vector<Event> expected(modelled.begin(), modelled.end());
            std::string history;
            for (size_t k = steps.size() > 6 ? steps.size() - 6 : 0; k < steps.size(); ++k) {
                history += "\n    " + steps[k];
            }
            *failure = SeedNote(seed) + ", step " + std::to_string(s) + "; last steps:" + history +
                       "\n  queued   " + ShowAll(got) + "\n  expected " + ShowAll(expected);
            return;
        }
    }
}

TEST(RandomizedEventQueueTest, MergeAndDiscardRulesMatchAPlainModel) {
    std::string failure;
    std::thread runner(CompareQueueWithModel, TestSeed(), &failure);
    runner.join();
    EXPECT_TRUE(failure.empty()) << failure;
}

} // namespace
