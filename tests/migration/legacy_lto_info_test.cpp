#include "migration/legacy_lto_info.hpp"

#include <gtest/gtest.h>

#include "formats/json.hpp"
#include "migration/decoding_error.hpp"
#include "support/in_memory_platform.hpp"

namespace quorin::migration {
namespace {

using Kind = DecodingError::Kind;
using CodingPath = std::vector<std::string>;

constexpr double kHour = 3600;
constexpr double kDay = 86400;
// Sunday 2023-11-12 00:00 GMT: the week of the fake calendar's default instant.
constexpr double kSunday = 1'699'747'200;

std::vector<std::shared_ptr<const LegacyLtoInfo>> decode(std::string_view json) {
  auto value = formats::parseJson(json);
  EXPECT_TRUE(value) << json;
  return decodeLegacyLtoInfos(*value);
}

DecodingError failure(std::string_view json) {
  try {
    decode(json);
  } catch (const DecodingError& error) {
    return error;
  }
  ADD_FAILURE() << "decoded: " << json;
  return DecodingError(Kind::dataCorrupted, {}, "");
}

std::string record(std::string_view members, std::string_view context = R"({"name":"Spring"})") {
  return std::string(R"([{"spot":"home","startTime":1000,"durationMinutes":90,)") +
         R"("isPriorityLaunch":true,"source":{"campaign":)" + std::string(context) + "}" +
         std::string(members) + "}]";
}

TEST(LegacyLtoDecoding, AMinimalRecordAndItsOptionalMembers) {
  auto infos = decode(record(""));
  ASSERT_EQ(infos.size(), 1u);
  const auto& info = *infos[0];
  EXPECT_EQ(info.spot, "home");
  EXPECT_EQ(info.startTime, 1000);
  EXPECT_EQ(info.durationMinutes, 90);
  EXPECT_TRUE(info.isPriorityLaunch);
  EXPECT_EQ(info.defaultSpotImage, std::nullopt);
  EXPECT_EQ(info.launchedTrigger, std::nullopt);
  EXPECT_EQ(info.ltoContext->campaignName, "Spring");
  EXPECT_EQ(info.ltoContext->finishAt, std::nullopt);
  EXPECT_EQ(info.ltoContext->timezone, std::nullopt);
  EXPECT_FALSE(info.ltoContext->activationPeriod);

  // The image is read from "spotImage"; null reads as absent.
  auto full =
      decode(record(R"(,"spotImage":"a.png","launchedTrigger":"open","defaultSpotImage":"x")"));
  EXPECT_EQ(full[0]->defaultSpotImage, "a.png");
  EXPECT_EQ(full[0]->launchedTrigger, "open");
  EXPECT_EQ(decode(record(R"(,"spotImage":null)"))[0]->defaultSpotImage, std::nullopt);
  // Whole numbers may be written as reals.
  auto real =
      decode(R"([{"spot":"s","startTime":1e3,"durationMinutes":2.0,"isPriorityLaunch":false,)"
             R"("source":{"x":{"name":"n","finished_at":5000.0}}}])");
  EXPECT_EQ(real[0]->startTime, 1000);
  EXPECT_EQ(real[0]->ltoContext->finishAt, 5000);
  EXPECT_TRUE(decode("[]").empty());
}

TEST(LegacyLtoDecoding, FailuresComeInTheOrderOfTheMembers) {
  // Everything is wrong; the first member in decoding order is the one reported.
  auto error = failure(R"([{"startTime":1.5,"durationMinutes":"x","isPriorityLaunch":1}])");
  EXPECT_EQ(error.kind, Kind::keyNotFound);
  EXPECT_NE(std::string(error.what()).find("spot"), std::string::npos);
  error = failure(R"([{"spot":"s","spotImage":7,"startTime":1.5}])");
  EXPECT_EQ(error.kind, Kind::typeMismatch);
  EXPECT_EQ(error.codingPath, (CodingPath{"Index 0", "spotImage"}));
  error = failure(R"([{"spot":"s","startTime":1.5,"durationMinutes":"x"}])");
  EXPECT_EQ(error.kind, Kind::dataCorrupted);
  EXPECT_EQ(error.codingPath, (CodingPath{"Index 0", "startTime"}));
  error = failure(R"([{"spot":"s","startTime":1,"durationMinutes":9223372036854775808}])");
  EXPECT_EQ(error.codingPath, (CodingPath{"Index 0", "durationMinutes"}));
  error = failure(R"([{"spot":"s","startTime":1,"durationMinutes":1,"isPriorityLaunch":1}])");
  EXPECT_EQ(error.kind, Kind::typeMismatch);
  error = failure(R"([{"spot":null,"startTime":1}])");
  EXPECT_EQ(error.kind, Kind::valueNotFound);
  // The second element fails the whole list.
  error = failure("[" + record("").substr(1, record("").size() - 2) + R"(,{"spot":"s"}])");
  EXPECT_EQ(error.codingPath.front(), "Index 1");
  EXPECT_EQ(failure(R"({"spot":"s"})").kind, Kind::typeMismatch);
}

TEST(LegacyLtoDecoding, TheSourceWrapper) {
  auto base =
      std::string(R"([{"spot":"s","startTime":1,"durationMinutes":1,"isPriorityLaunch":true)");
  auto missing = failure(base + "}]");
  EXPECT_EQ(missing.kind, Kind::keyNotFound);
  EXPECT_EQ(failure(base + R"(,"source":[]}])").kind, Kind::typeMismatch);
  EXPECT_EQ(failure(base + R"(,"source":null}])").kind, Kind::valueNotFound);

  auto empty = failure(base + R"(,"source":{}}])");
  EXPECT_EQ(empty.kind, Kind::dataCorrupted);
  EXPECT_STREQ(empty.what(), "Lto context not found in source");
  EXPECT_EQ(empty.codingPath, (CodingPath{"Index 0"}));

  // Any member name holds the context; a context without "name" fails.
  EXPECT_EQ(decode(base + R"(,"source":{"42":{"name":"n"}}}])")[0]->ltoContext->campaignName, "n");
  auto nameless = failure(base + R"(,"source":{"lto":{"finished_at":1}}}])");
  EXPECT_EQ(nameless.kind, Kind::keyNotFound);
  EXPECT_EQ(nameless.codingPath, (CodingPath{"Index 0", "source", "lto"}));
}

TEST(LegacyLtoDecoding, TimeZonesAndWeekdaysAreExactStrings) {
  auto zone = [](std::string_view text) {
    return record("", R"({"name":"n","timezone":")" + std::string(text) + R"("})");
  };
  EXPECT_EQ(decode(zone("CLIENT"))[0]->ltoContext->timezone, LegacyCampaignTimezone::client);
  EXPECT_EQ(decode(zone("UTC"))[0]->ltoContext->timezone, LegacyCampaignTimezone::UTC);
  EXPECT_EQ(failure(zone("client")).kind, Kind::dataCorrupted);
  EXPECT_EQ(failure(zone("utc")).codingPath,
            (CodingPath{"Index 0", "source", "campaign", "timezone"}));

  auto period = [](std::string_view start) {
    return record("", R"({"name":"n","activation_period":{"start_time":"10:00:00",)"
                      R"("end_time":"12:00:00","start_weekday":")" +
                          std::string(start) + R"(","end_weekday":"mon","is_force_stop":true}})");
  };
  EXPECT_EQ(decode(period("thur"))[0]->ltoContext->activationPeriod->startWeekday, Weekday::thur);
  auto thu = failure(period("thu"));
  EXPECT_EQ(thu.kind, Kind::dataCorrupted);
  EXPECT_EQ(thu.codingPath.back(), "start_weekday");
  EXPECT_EQ(failure(period("Mon")).kind, Kind::dataCorrupted);
  for (auto day : {Weekday::mon, Weekday::tue, Weekday::wed, Weekday::thur, Weekday::fri,
                   Weekday::sat, Weekday::sun})
    EXPECT_EQ(weekdayFromString(toString(day)), day);
}

TEST(LegacyLtoTimes, TimeOfDay) {
  EXPECT_EQ(timeOfDaySeconds("00:00:00"), 0);
  EXPECT_EQ(timeOfDaySeconds("18:30:15"), 18 * kHour + 30 * 60 + 15);
  EXPECT_EQ(timeOfDaySeconds("23:59:59"), kDay - 1);
  EXPECT_EQ(timeOfDaySeconds("9:05:00"), 9 * kHour + 5 * 60);
  for (auto text : {"25:99", "25:00:00", "10:60:00", "10:00:60", "10:00", "", "10:00:00x",
                    "-1:00:00", "100:00:00", "aa:bb:cc", "10::00"})
    EXPECT_EQ(timeOfDaySeconds(text), 0) << text;
}

class EndTimeTest : public ::testing::Test {
 protected:
  std::int64_t endTime(std::string_view context) {
    return decode(record("", context))[0]->computedEndTime(calendar);
  }
  double periodEnd(std::string_view start, std::string_view startDay, std::string_view end,
                   std::string_view endDay) {
    LegacyActivationPeriod period{
        std::string(start),           std::string(end),          std::nullopt, true,
        *weekdayFromString(startDay), *weekdayFromString(endDay)};
    return period.periodEnd(calendar);
  }
  testing::FakeCalendar calendar;
};

TEST_F(EndTimeTest, DurationAndFinishTime) {
  EXPECT_EQ(endTime(R"({"name":"n"})"), 1000 + 90 * 60);
  EXPECT_EQ(endTime(R"({"name":"n","finished_at":5000,"timezone":"UTC"})"), 5000);
  EXPECT_EQ(endTime(R"({"name":"n","finished_at":5000})"), 5000);
  EXPECT_EQ(endTime(R"({"name":"n","finished_at":9000})"), 6400);

  // A client-side finish time is local time: GMT+3 is three hours ahead, GMT-5 behind.
  calendar.gmtOffset = 3 * 3600;
  EXPECT_EQ(endTime(R"({"name":"n","finished_at":15000,"timezone":"CLIENT"})"), 4200);
  EXPECT_EQ(endTime(R"({"name":"n","finished_at":15000,"timezone":"UTC"})"), 6400);
  calendar.gmtOffset = -5 * 3600;
  EXPECT_EQ(endTime(R"({"name":"n","finished_at":-15000,"timezone":"CLIENT"})"), 3000);
  EXPECT_EQ(endTime(R"({"name":"n","finished_at":3000,"timezone":"CLIENT"})"), 6400);
}

TEST_F(EndTimeTest, ExtremeTimesSaturateInsteadOfOverflowing) {
  auto huge =
      decode(R"([{"spot":"s","startTime":9223372036854775000,"durationMinutes":9223372036854775,)"
             R"("isPriorityLaunch":true,"source":{"c":{"name":"n"}}}])");
  EXPECT_EQ(huge[0]->computedEndTime(calendar), std::numeric_limits<std::int64_t>::max());
  calendar.gmtOffset = -3600;
  auto low =
      decode(R"([{"spot":"s","startTime":-9223372036854775000,"durationMinutes":-9223372036854775,)"
             R"("isPriorityLaunch":true,"source":{"c":{"name":"n","timezone":"CLIENT",)"
             R"("finished_at":9223372036854775000}}}])");
  EXPECT_EQ(low[0]->computedEndTime(calendar), std::numeric_limits<std::int64_t>::min());
}

TEST_F(EndTimeTest, WeekBaseIsTheSundayBeforeTheWeekStart) {
  EXPECT_EQ(weekBase(calendar), kSunday);
  calendar.weekStart = 2;  // Monday: the week began on Monday the 13th
  EXPECT_EQ(weekBase(calendar), kSunday);
  calendar.gmtOffset = 3 * 3600;
  calendar.weekStart = 1;
  EXPECT_EQ(weekBase(calendar), kSunday - 3 * kHour);
  calendar.weekless = true;
  calendar.weekStart = 2;
  EXPECT_EQ(weekBase(calendar), -kDay);
}

TEST_F(EndTimeTest, AWindowOverTheWeekendWrapsOnceItHasStarted) {
  double thisMonday = kSunday + kDay + 6 * kHour;
  double friday = kSunday + 5 * kDay + 18 * kHour;
  calendar.time = kSunday + 2 * kDay;  // Tuesday
  EXPECT_EQ(periodEnd("18:00:00", "fri", "06:00:00", "mon"), thisMonday);
  calendar.time = friday - 1;
  EXPECT_EQ(periodEnd("18:00:00", "fri", "06:00:00", "mon"), thisMonday);
  calendar.time = friday;
  EXPECT_EQ(periodEnd("18:00:00", "fri", "06:00:00", "mon"), thisMonday + 7 * kDay);
  calendar.time = friday + kDay;
  EXPECT_EQ(periodEnd("18:00:00", "fri", "06:00:00", "mon"), thisMonday + 7 * kDay);
  // A window within one day never wraps, also after it ended.
  EXPECT_EQ(periodEnd("10:00:00", "mon", "12:00:00", "mon"), kSunday + kDay + 12 * kHour);
  // Unparseable times count as midnight.
  EXPECT_EQ(periodEnd("25:99", "tue", "bad", "tue"), kSunday + 2 * kDay);
}

TEST_F(EndTimeTest, OnlyAForceStoppedWindowCutsTheOfferShort) {
  calendar.time = kSunday + 2 * kDay;
  auto context = [](bool forceStop) {
    return std::string(R"({"name":"n","activation_period":{"start_time":"00:00:00",)") +
           R"("end_time":"00:00:10","start_weekday":"sun","end_weekday":"sun",)" +
           R"("activation_period_limit":3,"is_force_stop":)" + (forceStop ? "true" : "false") +
           "}}";
  };
  auto late = [&](bool forceStop) {
    return decode(R"([{"spot":"s","startTime":1699000000,"durationMinutes":100000,)"
                  R"("isPriorityLaunch":true,"source":{"c":)" +
                  context(forceStop) + "}}]")[0]
        ->computedEndTime(calendar);
  };
  EXPECT_EQ(late(false), 1699000000 + 100000 * 60);
  EXPECT_EQ(late(true), static_cast<std::int64_t>(kSunday) + 10);
  // A window end later than the offer's end leaves it.
  EXPECT_EQ(endTime(context(true)), 6400);
}

}  // namespace
}  // namespace quorin::migration
