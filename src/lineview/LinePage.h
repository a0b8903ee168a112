// The line's page for a supervisor, and its data: the HTML page (served, or one
// self-contained report file), /api/summary.json, /api/units.json and /units.csv. No HTTP
// here: a request is a path, its parameters and the browser's language; the answer is a
// status, a type and a body, so the companion's server and the tests share it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lineview/LineFigures.h"
#include "localization/Lang.h"

namespace korvel {

struct WebReply {
  int status = 200;
  std::string contentType;
  std::string body;
};

using WebParams = std::vector<std::pair<std::string, std::string>>;

struct LineQuery {
  LinePeriod period;
  TLanguateKind lang = lkEng;
  std::optional<std::string> step;  // a FailureStep: only the runs that failed there
  int limit = 50;                   // units listed
};

constexpr int kMaxListedUnits = 1000;

// The parameters (since, until, lang, step, limit), checked: the query, or nothing and the
// 400 reply that says what is wrong, in the language asked for. The period is `today` unless
// the parameters say otherwise; `until` alone is one day, `since` alone runs to today.
std::optional<LineQuery> ParseLineQuery(const WebParams& params, const std::string& acceptLanguage,
                                        const LocalDate& today, WebReply& refusal);
// The browser's preference among the three languages (Accept-Language); English when none.
TLanguateKind LanguageOfBrowser(const std::string& acceptLanguage);
// "en", "zh-TW", "zh-CN", and back (also zh-HK, zh-Hant, zh, zh-Hans, en-GB, ...).
std::string LanguageTag(TLanguateKind kind);
std::optional<TLanguateKind> LanguageOfTag(std::string tag);

// The query's latest runs, newest first (with a step: the failed runs of that step).
Status LatestUnits(LineRecordReader& reader, const LineQuery& query, std::vector<RecordRow>& rows);
// The query's runs as CSV with the record's columns, oldest first, handed out in pieces as
// they are read; `write` returning false stops (the reader went away).
Status WriteUnitsCsv(LineRecordReader& reader, const LineQuery& query,
                     const std::function<bool(const std::string&)>& write);

std::string SummaryJson(const LineFigures& figures);
std::string UnitsJson(const std::vector<RecordRow>& rows, const LineQuery& query);

// Served, the page loads its script, style and chart library from /assets and refreshes its
// figures; as a report, everything is inside the one file and nothing refreshes.
enum class PageKind { Served, Report };
Status LinePageHtml(LineRecordReader& reader, const LineQuery& query, int64_t now,
                    int64_t stopAfterSeconds, PageKind kind, std::string& html);

// Text that HTML shows as written, and JSON that may stand inside a <script> element.
std::string HtmlEscape(std::string_view text);
std::string ScriptSafeJson(std::string json);

// What the server answers, path by path.
class LineSite {
 public:
  using OpenReader = std::function<Result<std::unique_ptr<LineRecordReader>>()>;
  using Clock = std::function<int64_t()>;  // seconds since 1970

  LineSite(OpenReader open, Clock clock, int64_t stopAfterSeconds);
  // Every GET but /units.csv, whose rows go out as they are read (CsvQuery, then WriteCsv).
  WebReply Get(const std::string& path, const WebParams& params,
               const std::string& acceptLanguage) const;
  std::optional<LineQuery> CsvQuery(const WebParams& params, const std::string& acceptLanguage,
                                    WebReply& refusal) const;
  // Opens the record for the CSV; null and a 500 reply when it cannot be read.
  std::unique_ptr<LineRecordReader> OpenForCsv(WebReply& failure) const;

 private:
  LocalDate Today() const;

  OpenReader open_;
  Clock clock_;
  int64_t stopAfter_;
};

}  // namespace korvel
