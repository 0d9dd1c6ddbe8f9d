// The daily line about a waived certificate check.
#include "service/waived_certificate_notice.h"

#include <fmt/format.h>

#include "support/log_file.h"

namespace zendrel {

void WaivedCertificateNotice::Note(TTipoCampanha campaign, const std::string& url, const std::string& reason,
                                   const DateTime& today) {
  std::optional<DateTime>& told = told_on_[campaign == TTipoCampanha::tcPontos ? 0 : 1];
  if (told && *told == today.DatePart()) return;
  told = today.DatePart();
  DoSaveLog(fmt::format(
      "{}: o certificado da plataforma ({}) não passou na verificação: {}. As chamadas seguem sem verificá-lo, e os "
      "dados enviados (CPFs) podem ser lidos por quem se passar pela plataforma; corrija o certificado ou o endereço "
      "base.",
      campaign == TTipoCampanha::tcPontos ? "Campanha de pontos" : "Campanha top vendas", url, reason));
}

}  // namespace zendrel
