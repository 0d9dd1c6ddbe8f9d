// The SQL statements the service sends to the ERP's database, exactly as sent.
// Statements of several lines are the lines joined by line breaks.
#pragma once

#include <string>

#include "support/date_time.h"

namespace zendrel {

// Settings row (TBPadrao).
extern const char* const S1;
// S2, the settings row's write-back, is formed from each change (settings_row.h).
// Existence test (TBVerificaMovimentacao).
extern const char* const S3;
// Pending points movements after :MOVIMENTO (TBMovimentoPontos).
extern const char* const S4;
// Rewind position: the last movement before :DATA (TBUltimoMovimento).
extern const char* const S5;
// Pending top-sales movements after :SEQUENCIAL (TBMovTopVendas).
extern const char* const S6;
// Clear the campaign's products (TBComandos).
extern const char* const S7;
// Upsert one product by :CODIGOPRODUTO with :DESCRICAO (TBComandos).
extern const char* const S8;
// Clear the top-sales movements (TBComandos).
extern const char* const S9;
// Rebuild the top-sales movements from the sales since `start_day` (TBComandos).
std::string S10(const DateTime& start_day);

// The start day as S10 writes it: month, day and year ("M/D/YYYY" with the regional
// date separator), quoted as an SQL text literal: '9/5/2021'.
std::string S10StartDayText(const DateTime& start_day);

}  // namespace zendrel
