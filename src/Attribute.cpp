// Shared attribute pairs.
#include "Attribute.h"

CAttribute::CAttribute(const char* idP, const char* aviP) : m_idP(idP), m_aviP(aviP) {}
