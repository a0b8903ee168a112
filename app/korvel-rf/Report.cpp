#include "Report.h"

#include <cctype>
#include <chrono>

#include "Next.h"
#include "lineview/LinePage.h"
#include "platform/AtomicFile.h"

namespace korvel {

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err) {
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  // The same checks as the server's parameters, in the same words (English: the companion
  // speaks it whatever language the page is made in).
  WebParams params;
  if (!options.since.empty()) params.emplace_back("since", options.since);
  if (!options.until.empty()) params.emplace_back("until", options.until);
  LocalDate today;
  ParseIsoDate(ProductionRecord::LocalText(now).substr(0, 10), today);
  WebReply refusal;
  auto query = ParseLineQuery(params, "", today, refusal);
  if (!query) {
    err << "korvel-rf: report: " << refusal.body;
    return kExitUsage;
  }
  if (!options.lang.empty()) {
    const auto lang = LanguageOfTag(options.lang);
    if (!lang) {
      err << "korvel-rf: report: " << Say("lang takes en, zh-TW or zh-CN, not '{0}'", options.lang)
          << "\n";
      return kExitUsage;
    }
    query->lang = *lang;
  }

  // A report replaces an earlier report, never the record or anything else, and never
  // writes through a link.
  const std::filesystem::path& path = options.html;
  if (const Phrase problem = ReplaceProblem(path, LinkPolicy::Refuse); !problem.empty()) {
    err << "korvel-rf: report: " << Say("{0}; not overwritten", problem) << "\n";
    return kExitUsage;
  }
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    std::string ext = path.extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".html" && ext != ".htm") {
      err << "korvel-rf: report: "
          << Say("{0} exists and is not an .html file; not overwritten", path.string()) << "\n";
      return kExitUsage;
    }
  }

  const Result<std::unique_ptr<LineRecordReader>> reader = OpenLineRecord(options.db);
  if (!reader) {
    err << "korvel-rf: " << reader.status.failure << "\n";
    return RecordFailureExit(options.db);
  }
  std::string html;
  if (const Status made =
          LinePageHtml(**reader, *query, now, options.stopAfterSeconds, PageKind::Report, html);
      !made) {
    err << "korvel-rf: " << made.failure << "\n";
    return RecordFailureExit(options.db);
  }
  if (const Status written = WriteFileAtomically(path, html, LinkPolicy::Refuse); !written) {
    err << "korvel-rf: report: " << written.failure << "\n";
    return kExitRecord;
  }
  out << Say("wrote {0} ({1} to {2})", path.string(), IsoDateText(query->period.since),
             IsoDateText(query->period.until))
      << "\n";
  return kExitDone;
}

}  // namespace korvel
