#include "lineview/LinePage.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "lineview/LineAssets.h"
#include "platform/Text.h"

namespace korvel {

using Json = nlohmann::ordered_json;

namespace {

constexpr size_t kCsvPiece = 1u << 16;

// Record texts are bytes; a name that is not UTF-8 shows with a replacement mark instead of
// stopping the answer.
std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::optional<TLanguateKind> LanguageOfTag(std::string tag) {
  for (char& c : tag) c = c == '_' ? '-' : char(std::tolower(static_cast<unsigned char>(c)));
  if (tag == "en" || tag.rfind("en-", 0) == 0) return lkEng;
  if (tag == "zh-tw" || tag == "zh-hk" || tag == "zh-mo" || tag.rfind("zh-hant", 0) == 0)
    return lkCht;
  if (tag == "zh" || tag == "zh-cn" || tag == "zh-sg" || tag.rfind("zh-hans", 0) == 0) return lkChs;
  return std::nullopt;
}

namespace {

// A value repeated in a message: cut short, so a long parameter does not make a long reply.
std::string Shown(const std::string& value) {
  return value.size() > 80 ? value.substr(0, 80) + "..." : value;
}

WebReply Text(int status, const std::string& text) {
  return {status, "text/plain; charset=utf-8", text + "\n"};
}

Json RunJson(const RecordRow& r) {
  Json j;
  j["id"] = r.id;
  j["time"] = r.timeLocal;
  j["time_utc"] = r.timeUtc;
  j["station"] = r.station;
  j["result"] = r.result;
  j["reason"] = r.failedStep;
  j["rx_serial"] = r.numbers.rxSerial;
  j["tx_serial"] = r.numbers.txSerial;
  j["rx_id"] = r.numbers.rxId;
  j["tx_id"] = r.numbers.txId;
  return j;
}

Json Optional(const std::optional<double>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json StationJson(const StationFigures& f, bool named) {
  Json j;
  if (named) j["station"] = f.station;
  j["units"] = f.units;
  j["pass"] = f.pass;
  j["fail"] = f.fail;
  j["running"] = f.running;
  j["first_pass_yield"] = Optional(f.FirstPassYield());
  j["final_yield"] = Optional(f.FinalYield());
  j["units_per_hour"] = Optional(f.UnitsPerHour());
  if (f.lastRun) {
    Json last = RunJson(*f.lastRun);
    last["seconds_ago"] = f.secondsSinceLastRun ? Json(*f.secondsSinceLastRun) : Json(nullptr);
    j["last_unit"] = last;
  } else {
    j["last_unit"] = nullptr;
  }
  j["stopped"] = f.stopped;
  j["passed_by_hour"] = f.passedByHour;
  return j;
}

Json SummaryObject(const LineFigures& f) {
  Json j;
  j["period"] = {{"since", IsoDateText(f.period.since)}, {"until", IsoDateText(f.period.until)}};
  j["now"] = f.nowLocal;
  j["live"] = f.live;
  j["stop_after_s"] = f.stopAfter;
  j["total"] = StationJson(f.total, false);
  Json stations = Json::array();
  for (const StationFigures& s : f.stations) stations.push_back(StationJson(s, true));
  j["stations"] = stations;
  j["hours"] = f.hours;
  Json pareto = Json::array();
  for (const ParetoBar& bar : f.pareto)
    pareto.push_back({{"step", bar.step}, {"count", bar.count}});
  j["pareto"] = pareto;
  return j;
}

Json UnitsObject(const std::vector<RecordRow>& rows, const LineQuery& query) {
  Json j;
  j["step"] = query.step ? Json(*query.step) : Json(nullptr);
  j["limit"] = query.limit;
  Json list = Json::array();
  for (const RecordRow& r : rows) list.push_back(RunJson(r));
  j["units"] = list;
  return j;
}

bool Matches(const RecordRow& row, const LineQuery& query) {
  return !query.step || (row.result == "FAIL" && FailureStep(row.failedStep) == *query.step);
}

// The page's own words, by the names its script uses.
Json PageWords(TLanguateKind lang) {
  const std::pair<const char*, Phrase> words[] = {
      {"title", Say("Production line")},
      {"period", Say("Period: {0}")},
      {"show", Say("Show")},
      {"today", Say("Today")},
      {"language", Say("Language")},
      {"line", Say("Line total")},
      {"station", Say("Station")},
      {"units", Say("Units")},
      {"pass", Say("PASS")},
      {"fail", Say("FAIL")},
      {"running", Say("In progress")},
      {"fpy", Say("First-pass yield")},
      {"fy", Say("Final yield")},
      {"uph", Say("Units per hour")},
      {"last", Say("Last unit")},
      {"stopped", Say("stopped")},
      {"agoS", Say("{0} s ago")},
      {"agoM", Say("{0} min ago")},
      {"agoH", Say("{0} h ago")},
      {"agoD", Say("{0} days ago")},
      {"hourly", Say("Passed units per hour")},
      {"pareto", Say("Failures by step")},
      {"failedRuns", Say("Failed runs")},
      {"step", Say("Step")},
      {"noFailures", Say("No failures in this period.")},
      {"latest", Say("Latest units, newest first")},
      {"failedAt", Say("Units that failed at: {0}")},
      {"allUnits", Say("Show all units")},
      {"time", Say("Time")},
      {"result", Say("Result")},
      {"reason", Say("Reason")},
      {"rxsn", Say("RX serial")},
      {"txsn", Say("TX serial")},
      {"csv", Say("Download CSV")},
      {"noUnits", Say("No units in this period.")},
      {"noReason", Say("(no reason recorded)")},
      {"updated", Say("Updated {0}")},
      {"refreshFailed", Say("Could not refresh: {0}")},
      {"made", Say("Made {0}")},
      {"charts", Say("Charts: {0}", "Chart.js " + std::string(kChartJsVersion) + ", MIT License")},
  };
  Json j;
  for (const auto& [name, phrase] : words) j[name] = Words(phrase, lang);
  return j;
}

}  // namespace

std::string LanguageTag(TLanguateKind kind) {
  switch (kind) {
    case lkCht:
      return "zh-TW";
    case lkChs:
      return "zh-CN";
    default:
      return "en";
  }
}

TLanguateKind LanguageOfBrowser(const std::string& acceptLanguage) {
  // "zh-TW,zh;q=0.9,en;q=0.8": the first of the highest weight that this program speaks.
  std::optional<TLanguateKind> best;
  double bestWeight = 0;
  size_t at = 0;
  while (at <= acceptLanguage.size()) {
    size_t end = acceptLanguage.find(',', at);
    if (end == std::string::npos) end = acceptLanguage.size();
    const std::string item = acceptLanguage.substr(at, end - at);
    at = end + 1;
    const size_t semi = item.find(';');
    const std::string tag(TrimBlanks(item.substr(0, semi)));
    double weight = 1;
    if (semi != std::string::npos) {
      const std::string param(TrimBlanks(item.substr(semi + 1)));
      if (param.rfind("q=", 0) == 0) {
        char* stop = nullptr;
        weight = std::strtod(param.c_str() + 2, &stop);
        if (stop == param.c_str() + 2) weight = 0;
      }
    }
    const auto kind = LanguageOfTag(tag);
    if (kind && weight > bestWeight) {
      best = kind;
      bestWeight = weight;
    }
  }
  return best.value_or(lkEng);
}

std::optional<LineQuery> ParseLineQuery(const WebParams& params, const std::string& acceptLanguage,
                                        const LocalDate& today, WebReply& refusal) {
  LineQuery query;
  std::map<std::string, std::string> given;
  std::optional<Phrase> problem;
  for (const auto& [name, value] : params) {
    static const std::set<std::string> known = {"since", "until", "lang", "step", "limit"};
    if (!known.count(name)) {
      problem = Say("unknown parameter '{0}' (the page takes since, until, lang, step and limit)",
                    Shown(name));
      break;
    }
    if (!given.emplace(name, value).second) {
      problem = Say("parameter '{0}' is given twice", name);
      break;
    }
  }
  // The language first, so that whatever else is wrong is said in it.
  query.lang = LanguageOfBrowser(acceptLanguage);
  if (const auto lang = given.find("lang"); lang != given.end()) {
    if (const auto kind = LanguageOfTag(lang->second))
      query.lang = *kind;
    else if (!problem)
      problem = Say("lang takes en, zh-TW or zh-CN, not '{0}'", Shown(lang->second));
  }
  std::optional<LocalDate> since, until;
  for (const char* name : {"since", "until"}) {
    const auto it = given.find(name);
    if (it == given.end() || problem) continue;
    LocalDate date;
    if (!ParseIsoDate(it->second, date)) {
      problem = Say("{0} takes a date as YYYY-MM-DD, not '{1}'", name, Shown(it->second));
      continue;
    }
    (std::string(name) == "since" ? since : until) = date;
  }
  if (!problem) {
    if (!since && !until) {
      since = until = today;
    } else if (!until) {
      until = DaysSinceEpoch(*since) > DaysSinceEpoch(today) ? *since : today;
    } else if (!since) {
      since = until;
    }
    if (DaysSinceEpoch(*since) > DaysSinceEpoch(*until))
      problem = Say("since {0} is after until {1}", IsoDateText(*since), IsoDateText(*until));
    else
      query.period = {*since, *until};
  }
  if (const auto step = given.find("step"); step != given.end() && !problem) {
    if (step->second.empty())
      problem = Say("step takes the name of a failed step, not an empty text");
    else
      query.step = step->second;
  }
  if (const auto limit = given.find("limit"); limit != given.end() && !problem) {
    const std::string& text = limit->second;
    const bool digits =
        !text.empty() && text.size() <= 4 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int value = digits ? std::stoi(text) : 0;
    if (value < 1 || value > kMaxListedUnits)
      problem =
          Say("limit takes a whole number from 1 to {0}, not '{1}'", kMaxListedUnits, Shown(text));
    else
      query.limit = value;
  }
  if (problem) {
    refusal = Text(400, Words(*problem, query.lang));
    return std::nullopt;
  }
  return query;
}

Status LatestUnits(LineRecordReader& reader, const LineQuery& query, std::vector<RecordRow>& rows) {
  rows.clear();
  return reader.ForEachRun(SpanOf(query.period), RunOrder::NewestFirst, [&](const RecordRow& row) {
    if (Matches(row, query)) rows.push_back(row);
    return int(rows.size()) < query.limit;
  });
}

Status WriteUnitsCsv(LineRecordReader& reader, const LineQuery& query,
                     const std::function<bool(const std::string&)>& write) {
  std::string piece = RecordCsvHeader();
  bool open = true;
  const Status read =
      reader.ForEachRun(SpanOf(query.period), RunOrder::OldestFirst, [&](const RecordRow& row) {
        if (!Matches(row, query)) return true;
        piece += RecordCsvLine(row);
        if (piece.size() >= kCsvPiece) {
          open = write(piece);
          piece.clear();
        }
        return open;
      });
  if (!read) return read;
  // A reader that went away (a browser closed) stops the rows; that is no failure of ours.
  if (open && !piece.empty()) write(piece);
  return {};
}

std::string SummaryJson(const LineFigures& figures) {
  return Dump(SummaryObject(figures));
}

std::string UnitsJson(const std::vector<RecordRow>& rows, const LineQuery& query) {
  return Dump(UnitsObject(rows, query));
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string ScriptSafeJson(std::string json) {
  // '<', '>' and '&' stand only inside JSON strings, where their escapes mean the same: no
  // text from the record can close the <script> element or open a comment in it.
  std::string out;
  out.reserve(json.size());
  for (char c : json) {
    if (c == '<')
      out += "\\u003c";
    else if (c == '>')
      out += "\\u003e";
    else if (c == '&')
      out += "\\u0026";
    else
      out += c;
  }
  return out;
}

Status LinePageHtml(LineRecordReader& reader, const LineQuery& query, int64_t now,
                    int64_t stopAfterSeconds, PageKind kind, std::string& html) {
  LineFigures figures;
  if (Status computed = ComputeLineFigures(reader, query.period, now, stopAfterSeconds, figures);
      !computed)
    return computed;
  std::vector<RecordRow> latest;
  if (Status read = LatestUnits(reader, query, latest); !read) return read;

  Json data;
  data["lang"] = LanguageTag(query.lang);
  data["words"] = PageWords(query.lang);
  data["languages"] = Json::array({{{"tag", "en"}, {"name", "English"}},
                                   {{"tag", "zh-TW"}, {"name", "繁體中文"}},
                                   {{"tag", "zh-CN"}, {"name", "简体中文"}}});
  data["query"] = {{"since", IsoDateText(query.period.since)},
                   {"until", IsoDateText(query.period.until)},
                   {"step", query.step ? Json(*query.step) : Json(nullptr)},
                   {"limit", query.limit}};
  data["served"] = kind == PageKind::Served;
  data["summary"] = SummaryObject(figures);
  data["units"] = UnitsObject(latest, query);
  if (kind == PageKind::Report) {
    // No server to ask: the units behind each bar travel with the page.
    std::map<std::string, std::vector<RecordRow>> byStep;
    for (const ParetoBar& bar : figures.pareto) byStep[bar.step];
    const Status read =
        reader.ForEachRun(SpanOf(query.period), RunOrder::NewestFirst, [&](const RecordRow& row) {
          if (row.result != "FAIL") return true;
          auto& rows = byStep[FailureStep(row.failedStep)];
          if (int(rows.size()) < query.limit) rows.push_back(row);
          return true;
        });
    if (!read) return read;
    Json steps = Json::object();
    for (const auto& [step, rows] : byStep) {
      LineQuery one = query;
      one.step = step;
      steps[step] = UnitsObject(rows, one);
    }
    data["units_by_step"] = steps;
    data["made"] = ProductionRecord::LocalText(now);
  }

  const std::string title = Words(Say("Production line"), query.lang);
  auto asset = [](const char* name) { return std::string(FindLineAsset(name)->bytes); };
  html = "<!DOCTYPE html>\n<html lang=\"" + LanguageTag(query.lang) +
         "\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
         HtmlEscape(title) + "</title>\n";
  if (kind == PageKind::Served) {
    html += "<link rel=\"stylesheet\" href=\"assets/line.css\">\n";
  } else {
    html += "<style>\n" + asset("line.css") + "</style>\n";
  }
  html +=
      "</head>\n<body>\n<div id=\"page\"></div>\n<script type=\"application/json\" "
      "id=\"line-data\">" +
      ScriptSafeJson(Dump(data)) + "</script>\n";
  if (kind == PageKind::Served) {
    html +=
        "<script src=\"assets/chart.umd.min.js\"></script>\n"
        "<script src=\"assets/line.js\"></script>\n";
  } else {
    // Inline scripts end at the first "</script"; neither file holds one, and a later version
    // that did would still be cut safely.
    auto inlineScript = [](std::string js) {
      for (size_t at = 0; (at = js.find("</script", at)) != std::string::npos; at += 2)
        js.replace(at, 2, "<\\/");
      return "<script>\n" + js + "\n</script>\n";
    };
    html += inlineScript(asset("chart.umd.min.js")) + inlineScript(asset("line.js"));
  }
  html += "</body>\n</html>\n";
  return {};
}

LineSite::LineSite(OpenReader open, Clock clock, int64_t stopAfterSeconds)
    : open_(std::move(open)), clock_(std::move(clock)), stopAfter_(stopAfterSeconds) {}

LocalDate LineSite::Today() const {
  LocalDate today;
  ParseIsoDate(ProductionRecord::LocalText(clock_()).substr(0, 10), today);
  return today;
}

std::optional<LineQuery> LineSite::CsvQuery(const WebParams& params,
                                            const std::string& acceptLanguage,
                                            WebReply& refusal) const {
  return ParseLineQuery(params, acceptLanguage, Today(), refusal);
}

std::unique_ptr<LineRecordReader> LineSite::OpenForCsv(WebReply& failure) const {
  Result<std::unique_ptr<LineRecordReader>> reader = open_();
  if (!reader) {
    failure = Text(500, reader.status.failure.English());
    return nullptr;
  }
  return std::move(*reader);
}

WebReply LineSite::Get(const std::string& path, const WebParams& params,
                       const std::string& acceptLanguage) const {
  const LineAsset* asset = path.rfind("/assets/", 0) == 0 ? FindLineAsset(path.substr(8)) : nullptr;
  if (asset) return {200, std::string(asset->type), std::string(asset->bytes)};
  const bool page = path == "/" || path == "/index.html";
  if (!page && path != "/api/summary.json" && path != "/api/units.json")
    return Text(404,
                Words(Say("no such page: {0}", Shown(path)), LanguageOfBrowser(acceptLanguage)));
  WebReply refusal;
  const auto query = ParseLineQuery(params, acceptLanguage, Today(), refusal);
  if (!query) return refusal;
  const Result<std::unique_ptr<LineRecordReader>> opened = open_();
  if (!opened) return Text(500, Words(opened.status.failure, query->lang));
  LineRecordReader& reader = **opened;
  const int64_t now = clock_();
  if (page) {
    WebReply reply{200, "text/html; charset=utf-8", {}};
    if (Status made = LinePageHtml(reader, *query, now, stopAfter_, PageKind::Served, reply.body);
        !made)
      return Text(500, Words(made.failure, query->lang));
    return reply;
  }
  if (path == "/api/summary.json") {
    LineFigures figures;
    if (Status computed = ComputeLineFigures(reader, query->period, now, stopAfter_, figures);
        !computed)
      return Text(500, Words(computed.failure, query->lang));
    return {200, "application/json", SummaryJson(figures)};
  }
  std::vector<RecordRow> rows;
  if (Status read = LatestUnits(reader, *query, rows); !read)
    return Text(500, Words(read.failure, query->lang));
  return {200, "application/json", UnitsJson(rows, *query)};
}

}  // namespace korvel
