// SPDX-License-Identifier: GPL-3.0-or-later
#include "runerror.h"

RunError::RunError(int number, QString description)
    : m_number(number)
    , m_description(std::move(description))
    , m_what(m_description.toLocal8Bit())
{ }
