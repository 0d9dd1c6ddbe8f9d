// The last cycle's record as JSON: plain members with Portuguese names, so that a
// support person who opens the file reads it as easily as -status does.
#include "service/cycle_state.h"

#include <charconv>
#include <string_view>

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

namespace zendrel {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

constexpr struct {
  CycleEnd end;
  const char* name;
} kEnds[] = {
    {CycleEnd::kRunning, "em_andamento"},
    {CycleEnd::kDone, "concluido"},
    {CycleEnd::kNotServer, "nao_e_o_servidor"},
    {CycleEnd::kDatabaseUnreachable, "banco_inacessivel"},
    {CycleEnd::kDatabaseHeld, "banco_em_uso_por_outro_zendrel"},
    {CycleEnd::kInterrupted, "interrompido"},
    {CycleEnd::kError, "erro"},
};

constexpr struct {
  CampaignStopKind kind;
  const char* name;
} kStops[] = {
    {CampaignStopKind::kNone, "nenhuma"},
    {CampaignStopKind::kRefused, "recusa"},
    {CampaignStopKind::kTransport, "falha_de_comunicacao"},
    {CampaignStopKind::kUnreadable, "movimento_invalido"},
    {CampaignStopKind::kIndexNotWritten, "indice_nao_gravado"},
    {CampaignStopKind::kHeldByTill, "transacao_do_erp"},
};

void String(Writer& writer, const char* key, const std::string& value) {
  writer.Key(key);
  writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void OptionalNumber(Writer& writer, const char* key, const std::optional<std::int64_t>& value) {
  writer.Key(key);
  if (value) {
    writer.Int64(*value);
  } else {
    writer.Null();
  }
}

void WriteCampaign(Writer& writer, const char* key, const CampaignRun& run) {
  writer.Key(key);
  writer.StartObject();
  writer.Key("executada");
  writer.Bool(run.ran);
  writer.Key("chegou_ao_fim");
  writer.Bool(run.ended);
  OptionalNumber(writer, "indice_antes", run.index_before);
  OptionalNumber(writer, "indice_depois", run.index_after);
  writer.Key("aceitos");
  writer.Int(run.accepted);
  writer.Key("parada");
  writer.StartObject();
  for (const auto& stop : kStops) {
    if (stop.kind == run.stop.kind) String(writer, "motivo", stop.name);
  }
  OptionalNumber(writer, "movimento", run.stop.movement);
  writer.Key("status");
  writer.Int(run.stop.status);
  String(writer, "mensagem", run.stop.message);
  String(writer, "comunicacao", run.stop.transport);
  writer.EndObject();
  String(writer, "certificado_dispensado", run.certificate_waived);
  writer.EndObject();
}

std::string TextOf(const rapidjson::Value& object, const char* key) {
  const auto member = object.FindMember(key);
  if (member == object.MemberEnd() || !member->value.IsString()) return {};
  return {member->value.GetString(), member->value.GetStringLength()};
}

std::optional<std::int64_t> NumberOf(const rapidjson::Value& object, const char* key) {
  const auto member = object.FindMember(key);
  if (member == object.MemberEnd() || !member->value.IsInt64()) return std::nullopt;
  return member->value.GetInt64();
}

bool BoolOf(const rapidjson::Value& object, const char* key) {
  const auto member = object.FindMember(key);
  return member != object.MemberEnd() && member->value.IsBool() && member->value.GetBool();
}

CampaignRun ReadCampaign(const rapidjson::Value& root, const char* key) {
  CampaignRun run;
  const auto member = root.FindMember(key);
  if (member == root.MemberEnd() || !member->value.IsObject()) return run;
  const rapidjson::Value& object = member->value;
  run.ran = BoolOf(object, "executada");
  run.ended = BoolOf(object, "chegou_ao_fim");
  run.index_before = NumberOf(object, "indice_antes");
  run.index_after = NumberOf(object, "indice_depois");
  run.accepted = static_cast<int>(NumberOf(object, "aceitos").value_or(0));
  run.certificate_waived = TextOf(object, "certificado_dispensado");
  const auto stop = object.FindMember("parada");
  if (stop != object.MemberEnd() && stop->value.IsObject()) {
    const std::string name = TextOf(stop->value, "motivo");
    for (const auto& known : kStops) {
      if (name == known.name) run.stop.kind = known.kind;
    }
    run.stop.movement = NumberOf(stop->value, "movimento");
    run.stop.status = static_cast<int>(NumberOf(stop->value, "status").value_or(0));
    run.stop.message = TextOf(stop->value, "mensagem");
    run.stop.transport = TextOf(stop->value, "comunicacao");
  }
  return run;
}

// Days from 1 January 1970 of a Gregorian date (Howard Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t SecondsOf(const DateTime& moment) {
  return DaysFromCivil(moment.year, static_cast<unsigned>(moment.month), static_cast<unsigned>(moment.day)) * 86400 +
         moment.hour * 3600 + moment.minute * 60 + moment.second;
}

}  // namespace

std::optional<DateTime> ParseLogTimestamp(std::string_view text) {
  constexpr std::string_view kShape = "00/00/0000 00:00:00";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  const auto number = [text](std::size_t at, std::size_t length) {
    int value = 0;
    std::from_chars(text.data() + at, text.data() + at + length, value);
    return value;
  };
  DateTime moment{number(6, 4), number(3, 2), number(0, 2), number(11, 2), number(14, 2), number(17, 2), 0};
  if (!IsValidDate(moment.year, moment.month, moment.day) || moment.hour > 23 || moment.minute > 59 ||
      moment.second > 59) {
    return std::nullopt;
  }
  return moment;
}

std::int64_t SecondsBetween(const DateTime& from, const DateTime& to) { return SecondsOf(to) - SecondsOf(from); }

std::string CycleStateJson(const CycleState& state) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.SetIndent(' ', 2);
  writer.StartObject();
  String(writer, "inicio", FormatLogTimestamp(state.started));
  String(writer, "atualizado", FormatLogTimestamp(state.updated));
  String(writer, "fim", state.ended ? FormatLogTimestamp(*state.ended) : std::string());
  for (const auto& end : kEnds) {
    if (end.end == state.end) String(writer, "resultado", end.name);
  }
  String(writer, "erro", state.error);
  writer.Key("intervalo_ms");
  writer.Int64(state.interval_ms);
  WriteCampaign(writer, "pontos", state.pontos);
  WriteCampaign(writer, "top_vendas", state.top_vendas);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

std::optional<CycleState> ParseCycleState(const std::string& json) {
  rapidjson::Document document;
  document.Parse(json.data(), json.size());
  if (document.HasParseError() || !document.IsObject()) return std::nullopt;
  CycleState state;
  const std::optional<DateTime> started = ParseLogTimestamp(TextOf(document, "inicio"));
  const std::optional<DateTime> updated = ParseLogTimestamp(TextOf(document, "atualizado"));
  if (!started || !updated) return std::nullopt;
  state.started = *started;
  state.updated = *updated;
  state.ended = ParseLogTimestamp(TextOf(document, "fim"));
  const std::string end = TextOf(document, "resultado");
  bool known_end = false;
  for (const auto& known : kEnds) {
    if (end == known.name) {
      state.end = known.end;
      known_end = true;
    }
  }
  if (!known_end) return std::nullopt;
  state.error = TextOf(document, "erro");
  state.interval_ms = NumberOf(document, "intervalo_ms").value_or(0);
  state.pontos = ReadCampaign(document, "pontos");
  state.top_vendas = ReadCampaign(document, "top_vendas");
  return state;
}

}  // namespace zendrel
