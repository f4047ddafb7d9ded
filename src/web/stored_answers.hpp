#pragma once
// The data a run keeps beside its chart, for its page's links: its classes
// as CSV and all its figures as JSON, the same as the API's answers for the
// run, read from its stored results and report rather than run again. Once
// the chart has gone, an HTML page says that they have expired.

#include <filesystem>
#include <string>
#include <string_view>

#include "web/page.hpp"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace polygons::web {

// "/runs/<id>/data", which takes ".csv" or ".json".
std::string data_url(std::string_view id);

// The route's pattern: the run id, then the format.
inline constexpr char kDataRoute[] = R"(/runs/([0-9a-f]{32})/data\.(csv|json))";

// Answers a request that matched kDataRoute. `expired_page` is the blank
// page that the expired answer (404) shows its message on; `kept_for` says
// for how long data are kept.
void answer_stored_data(const httplib::Request& req, httplib::Response& res,
                        const std::filesystem::path& workdir, page_content expired_page,
                        const std::string& kept_for);

}  // namespace polygons::web
