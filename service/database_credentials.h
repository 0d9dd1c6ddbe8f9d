// The account the service attaches to the ERP's database with: one user name and two
// passwords, the second tried when the first is refused.
#pragma once

namespace zendrel {

inline constexpr const char* kUsuarioBanco = "SYSDBA";
inline constexpr const char* kSenhaPrincipal = "trivel";
inline constexpr const char* kSenhaReserva = "gravulent";

}  // namespace zendrel
