#include "jquants_standin.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <zlib.h>

#include <algorithm>
#include <memory>

namespace {

using TJson = nlohmann::json;

std::string Dashed(TDate date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
    return text;
}

// A pagination key with characters that need escaping in a query, as opaque keys may have.
std::string PageKey(size_t offset)
{
    return "pk+" + std::to_string(offset) + "/=";
}

size_t OffsetOf(const std::string& key)
{
    if (!key.starts_with("pk+") || !key.ends_with("/="))
        return std::string::npos;
    try {
        return std::stoul(key.substr(3, key.size() - 5));
    } catch (const std::exception&) {
        return std::string::npos;
    }
}

} // namespace

TStandinMarket TStandinMarket::Small(TDate first, TDate last)
{
    TStandinMarket market;
    market.First = first;
    market.Last = last;
    market.Stocks = {
        {"72030", "トヨタ自動車", "3700", "0111", 0},
        {"130A0", "Ｖｅｒｉｔａｓ　Ｉｎ　Ｓｉｌｉｃｏ", "3250", "0113", 0},
        {"25935", "伊藤園第１種優先株式", "3050", "0111", 0},
        {"13060", "ＮＥＸＴ　ＦＵＮＤＳ　ＴＯＰＩＸ連動型上場投信", "9999", "0109", 0},
        {"91990", "プロ・マーケット商事", "9050", "0105", 0},
        {"82330", "髙島屋", "6100", "0111", 0},
        {"55550", "Ａ&Ｂ, Holdings", "5250", "0112", 0},
    };
    const size_t days = market.TradingDays().size();
    market.Stocks[6].ListedFrom = static_cast<int>(days / 2); // listed part-way
    market.SplitDay = static_cast<int>(days / 3);
    market.ConsolidationDay = static_cast<int>(days * 2 / 3);
    market.JunkDay = 5;
    return market;
}

TStandinMarket TStandinMarket::Generated(int stocks, TDate first, TDate last)
{
    TStandinMarket market;
    market.First = first;
    market.Last = last;
    market.Large = true;
    for (int i = 0; i < stocks; ++i)
        market.Stocks.push_back({std::to_string(1300 + i) + "0", "銘柄" + std::to_string(i), "3700", "0111", 0});
    return market;
}

std::vector<TDate> TStandinMarket::TradingDays() const
{
    std::vector<TDate> days;
    for (TDate date = First; date <= Last; date = AddDays(date, 1))
        if (Weekday(date) < 5 && date.Day != 1)
            days.push_back(date);
    return days;
}

struct TJQuantsStandin::TState
{
    httplib::Server Server;
    mutable std::mutex Mutex;
    std::vector<TStandinRequest> Requests;
    std::vector<TDate> Days;
    std::optional<TDate> RefuseAfter;
    int Forced = 0;
    int ForcedStatus = 0;
    std::string ForcedBody;
    std::chrono::milliseconds Delay{0};
    std::vector<std::chrono::milliseconds> Travel;
    size_t Travelled = 0;
    TStandinFault Fault = TStandinFault::None;
    TDate FaultFrom;
};

namespace {

TJson Record(const TStandinMarket& market, size_t stock, int t, TDate date)
{
    const std::string& code = market.Stocks[stock].Code;
    TJson record = {{"Date", Dashed(date)}, {"Code", code}};
    if (!market.Large && code == "13060" && t % 7 == 0) {
        for (const char* name : {"O", "H", "L", "C", "UL", "LL", "Vo", "Va", "AdjO", "AdjH", "AdjL", "AdjC", "AdjVo"})
            record[name] = nullptr;
        record["AdjFactor"] = 1.0;
        return record;
    }
    double close = TStandinMarket::Base(stock) + t;
    double volume = 1000.0 * (t + 1);
    double factor = 1;
    if (code == "72030" && market.SplitDay >= 0 && t >= market.SplitDay) {
        close /= 2;
        volume *= 2;
        factor = t == market.SplitDay ? 0.5 : 1;
    }
    if (code == "82330" && market.ConsolidationDay >= 0 && t >= market.ConsolidationDay) {
        close *= 2;
        volume /= 2;
        factor = t == market.ConsolidationDay ? 2 : 1;
    }
    record["O"] = close - 10;
    record["H"] = close + 20;
    record["L"] = close - 30;
    record["C"] = close;
    record["UL"] = false;
    record["LL"] = false;
    record["Vo"] = volume;
    record["Va"] = close * volume;
    record["AdjFactor"] = factor;
    record["AdjC"] = close; // adjusted figures the client does not keep
    record["MorningClose"] = close; // a premium plan's extra key, ignored
    return record;
}

// The benchmark's pages, written as text: building a thousand JSON objects a page would make
// the stand-in, not the fetch, the slow side of the benchmark.
std::string LargePage(const TStandinMarket& market, const std::vector<size_t>& listed, size_t offset,
                      size_t pageSize, int t, TDate date)
{
    std::string body = "{\"data\":[";
    const std::string day = Dashed(date);
    char record[512];
    for (size_t n = offset; n < listed.size() && n < offset + pageSize; ++n) {
        const int close = TStandinMarket::Base(listed[n] % 20) + t;
        const long volume = 1000L * (t + 1);
        const int length = std::snprintf(
            record, sizeof record,
            "%s{\"Date\":\"%s\",\"Code\":\"%s\",\"O\":%d.0,\"H\":%d.0,\"L\":%d.0,\"C\":%d.0,\"UL\":\"0\","
            "\"LL\":\"0\",\"Vo\":%ld.0,\"Va\":%ld.0,\"AdjFactor\":1.0,\"AdjO\":%d.0,\"AdjH\":%d.0,"
            "\"AdjL\":%d.0,\"AdjC\":%d.0,\"AdjVo\":%ld.0}",
            n == offset ? "" : ",", day.c_str(), market.Stocks[listed[n]].Code.c_str(), close - 10, close + 20,
            close - 30, close, volume, volume * close, close - 10, close + 20, close - 30, close, volume);
        body.append(record, static_cast<size_t>(length));
    }
    body += "]";
    if (offset + pageSize < listed.size())
        body += ",\"pagination_key\":\"" + PageKey(offset + pageSize) + "\"";
    body += "}";
    return body;
}

std::vector<TJson> JunkRecords(TDate date)
{
    const std::string day = Dashed(date);
    return {
        {{"Date", day}, {"Code", "99990"}, {"O", -5}, {"H", 10}, {"L", 1}, {"C", 5}, {"Vo", 1}, {"Va", 5}},
        {{"Date", day}, {"Code", "99980"}, {"O", "abc"}, {"H", 10}, {"L", 1}, {"C", 5}, {"Vo", 1}, {"Va", 5}},
        {{"Date", day}, {"Code", "99970"}, {"O", 5}, {"H", 1}, {"L", 10}, {"C", 5}, {"Vo", 1}, {"Va", 5}},
        {{"Date", "2025-02-30"}, {"Code", "99960"}, {"O", 5}, {"H", 10}, {"L", 1}, {"C", 5}, {"Vo", 1}, {"Va", 5}},
        {{"Date", day}, {"Code", "ABCDE"}, {"O", 5}, {"H", 10}, {"L", 1}, {"C", 5}, {"Vo", 1}, {"Va", 5}},
    };
}

void Answer(httplib::Response& response, int status, const TJson& body)
{
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

std::string Gzip(const std::string& bytes)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, bytes.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

constexpr size_t MiB = 1u << 20;

// Not a type any server compresses on its own: the bytes go out as the fault makes them.
constexpr const char* Opaque = "application/octet-stream";

// The answer `response` holds (200, the published JSON) made over as `fault` has it.
void Spoil(TStandinFault fault, const httplib::Request& request, size_t pageSize, httplib::Response& response)
{
    TJson body = TJson::parse(response.body);
    const auto withBlanks = [&](size_t blanks) {
        std::string text = body.dump();
        text.insert(text.size() - 1, blanks, ' ');
        return text;
    };
    switch (fault) {
    case TStandinFault::None:
        return;
    case TStandinFault::SamePageKey:
        body["pagination_key"] = PageKey(pageSize);
        break;
    case TStandinFault::LongPageKey:
        body["pagination_key"] = std::string(64 * 1024, 'k');
        break;
    case TStandinFault::HugeWithLength:
        response.set_content(withBlanks(80 * MiB), Opaque);
        return;
    case TStandinFault::HugeChunked: {
        auto text = std::make_shared<std::string>(withBlanks(80 * MiB));
        response.body.clear(); // a body set wins over a provider
        response.set_chunked_content_provider(Opaque, [text](size_t offset, httplib::DataSink& sink) {
            if (offset >= text->size() || !sink.write(text->data() + offset, std::min(MiB, text->size() - offset)))
                sink.done();
            return true;
        });
        return;
    }
    case TStandinFault::HugeGzip:
        response.set_content(Gzip(withBlanks(80 * MiB)), Opaque);
        response.set_header("Content-Encoding", "gzip");
        return;
    case TStandinFault::ManyEmptyRecords: {
        std::string text = "{\"data\":[{}";
        while (text.size() < 48 * MiB)
            text += ",{}";
        response.set_content(text + "]}", Opaque);
        return;
    }
    case TStandinFault::OtherRows: {
        TJson& data = body["data"];
        if (data.empty())
            break;
        const TJson first = data.front();
        const auto moved = [&](TDate date, std::string code) {
            TJson record = first;
            record["Date"] = Dashed(date);
            record["Code"] = std::move(code);
            if (record["Code"] != first["Code"])
                record["C"] = 77777.0;
            return record;
        };
        const TDate day = *ParseDate(first["Date"].get<std::string>());
        const std::string code = first["Code"];
        data.push_back(moved(AddDays(LocalToday(), 30), code));
        if (request.has_param("code")) {
            data.push_back(moved(day, "99840"));
            data.push_back(moved(AddDays(*ParseDate(request.get_param_value("from")), -3), code));
        } else {
            data.push_back(moved(AddDays(day, 1), code));
        }
        break;
    }
    case TStandinFault::Trickle: {
        auto text = std::make_shared<std::string>(body.dump());
        response.body.clear();
        response.set_chunked_content_provider(Opaque, [text](size_t, httplib::DataSink& sink) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            size_t sent = 0;
            for (; sent < text->size() && std::chrono::steady_clock::now() < until; ++sent) {
                if (!sink.write(text->data() + sent, 1))
                    return false; // the client gave up
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (sent < text->size())
                sink.write(text->data() + sent, text->size() - sent);
            sink.done();
            return true;
        });
        return;
    }
    }
    response.set_content(body.dump(), "application/json");
}

} // namespace

TJQuantsStandin::TJQuantsStandin(TStandinMarket market, size_t pageSize)
    : Served(std::move(market)), PageSize(std::max<size_t>(pageSize, 1)), State(std::make_unique<TState>())
{
    State->Days = Served.TradingDays();

    // Everything is answered from the one handler, so every request is logged with its status.
    const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
        std::chrono::milliseconds travel{0};
        {
            const std::lock_guard<std::mutex> lock(State->Mutex);
            if (!State->Travel.empty())
                travel = State->Travel[State->Travelled++ % State->Travel.size()];
        }
        std::this_thread::sleep_for(travel);
        const auto arrived = std::chrono::steady_clock::now();
        std::chrono::milliseconds delay;
        int forced = 0;
        std::string forcedBody;
        std::optional<TDate> refuseAfter;
        TStandinFault fault = TStandinFault::None;
        TDate faultFrom;
        {
            const std::lock_guard<std::mutex> lock(State->Mutex);
            delay = State->Delay;
            refuseAfter = State->RefuseAfter;
            fault = State->Fault;
            faultFrom = State->FaultFrom;
            if (State->Forced > 0) {
                --State->Forced;
                forced = State->ForcedStatus;
                forcedBody = State->ForcedBody;
            }
        }
        if (delay.count() > 0 || travel.count() > 0)
            std::this_thread::sleep_for(delay + travel);
        const std::string page = request.get_param_value("pagination_key");
        const size_t offset = page.empty() ? 0 : OffsetOf(page);
        std::vector<TJson> records;
        size_t total = 0;
        bool sliced = false; // records holds only the page asked for, of `total`
        std::string fastBody;
        bool known = true;
        if (request.get_header_value("x-api-key") != Key) {
            Answer(response, 403, {{"message", "The incoming token is invalid or expired."}});
        } else if (forced != 0) {
            response.status = forced;
            response.set_content(forcedBody, "application/json");
        } else if (offset == std::string::npos) {
            Answer(response, 400, {{"message", "pagination_key is invalid"}});
        } else if (request.path == "/v2/equities/master") {
            for (const TStandinStock& stock : Served.Stocks)
                records.push_back({{"Date", Dashed(Served.Last)}, {"Code", stock.Code}, {"CoName", stock.CoName},
                                   {"CoNameEn", ""}, {"S17", "6"}, {"S17Nm", ""}, {"S33", stock.S33},
                                   {"S33Nm", ""}, {"ScaleCat", "-"}, {"Mkt", stock.Mkt}, {"MktNm", ""},
                                   {"Mrgn", "1"}, {"MrgnNm", ""}});
        } else if (request.path == "/v2/equities/bars/daily" && request.has_param("date")) {
            const std::optional<TDate> date = ParseDate(request.get_param_value("date"));
            if (!date) {
                Answer(response, 400, {{"message", "date is invalid"}});
            } else if (refuseAfter && *date > *refuseAfter) {
                Answer(response, 403, {{"message", "Your subscription covers the following dates: earlier ones."}});
            } else {
                const auto found = std::lower_bound(State->Days.begin(), State->Days.end(), *date);
                if (found != State->Days.end() && *found == *date) {
                    // Only the page's own records are made: a day of the benchmark's market is large.
                    const int t = static_cast<int>(found - State->Days.begin());
                    std::vector<size_t> listed;
                    for (size_t i = 0; i < Served.Stocks.size(); ++i)
                        if (t >= Served.Stocks[i].ListedFrom)
                            listed.push_back(i);
                    std::vector<TJson> junk = t == Served.JunkDay ? JunkRecords(*date) : std::vector<TJson>();
                    total = listed.size() + junk.size();
                    if (Served.Large) {
                        fastBody = LargePage(Served, listed, offset, PageSize, t, *date);
                        total = 0;
                    }
                    for (size_t n = offset; n < total && n < offset + PageSize; ++n)
                        records.push_back(n < listed.size() ? Record(Served, listed[n], t, *date)
                                                            : std::move(junk[n - listed.size()]));
                    sliced = true;
                }
            }
        } else if (request.path == "/v2/equities/bars/daily" && request.has_param("code")) {
            const std::string code = request.get_param_value("code");
            const std::optional<TDate> from = ParseDate(request.get_param_value("from"));
            const std::optional<TDate> to = ParseDate(request.get_param_value("to"));
            const auto stock = std::find_if(Served.Stocks.begin(), Served.Stocks.end(),
                                            [&](const TStandinStock& s) { return s.Code == code; });
            for (size_t t = 0; stock != Served.Stocks.end() && t < State->Days.size(); ++t) {
                const TDate date = State->Days[t];
                if ((!from || *from <= date) && (!to || date <= *to) && static_cast<int>(t) >= stock->ListedFrom)
                    records.push_back(Record(Served, static_cast<size_t>(stock - Served.Stocks.begin()),
                                             static_cast<int>(t), date));
            }
        } else {
            known = false;
            Answer(response, 404, {{"message", "not found"}});
        }
        if (!fastBody.empty()) {
            response.status = 200;
            response.set_content(fastBody, "application/json");
        } else if (known && response.status == -1) {
            TJson body = {{"data", TJson::array()}};
            if (!sliced) {
                total = records.size();
                for (size_t i = offset; i < records.size() && i < offset + PageSize; ++i)
                    body["data"].push_back(std::move(records[i]));
            } else {
                for (TJson& record : records)
                    body["data"].push_back(std::move(record));
            }
            if (offset + PageSize < total)
                body["pagination_key"] = PageKey(offset + PageSize);
            Answer(response, 200, body);
            const std::optional<TDate> date = ParseDate(request.get_param_value("date"));
            if (response.status == 200 && request.path == "/v2/equities/bars/daily" &&
                (request.has_param("code") || (date && *date >= faultFrom)))
                Spoil(fault, request, PageSize, response);
        }
        const std::lock_guard<std::mutex> lock(State->Mutex);
        State->Requests.push_back({request.path,
                                   request.target.substr(std::min(request.target.find('?'), request.target.size())),
                                   arrived, response.status, request.has_header("x-api-key")});
    };
    State->Server.Get(".*", handle);
    Port = State->Server.bind_to_any_port("127.0.0.1");
    Thread = std::thread([this] { State->Server.listen_after_bind(); });
    for (int i = 0; i < 500 && !State->Server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TJQuantsStandin::~TJQuantsStandin()
{
    State->Server.stop();
    Thread.join();
}

std::string TJQuantsStandin::Url() const
{
    return "http://127.0.0.1:" + std::to_string(Port) + "/v2";
}

void TJQuantsStandin::RefuseDaysAfter(TDate day)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->RefuseAfter = day;
}

void TJQuantsStandin::Answer429(int count)
{
    AnswerWith(count, 429, R"({"message":"Rate limit exceeded"})");
}

void TJQuantsStandin::AnswerWith(int count, int status, std::string body)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->Forced = count;
    State->ForcedStatus = status;
    State->ForcedBody = std::move(body);
}

void TJQuantsStandin::Misbehave(TStandinFault fault, TDate from)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->Fault = fault;
    State->FaultFrom = from;
}

void TJQuantsStandin::SetDelay(std::chrono::milliseconds delay)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->Delay = delay;
}

void TJQuantsStandin::SetTravel(std::vector<std::chrono::milliseconds> times)
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    State->Travel = std::move(times);
    State->Travelled = 0;
}

std::vector<TStandinRequest> TJQuantsStandin::Requests() const
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    return State->Requests;
}

size_t TJQuantsStandin::RequestCount() const
{
    const std::lock_guard<std::mutex> lock(State->Mutex);
    return State->Requests.size();
}
