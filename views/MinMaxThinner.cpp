#include "views/MinMaxThinner.h"

#include <cmath>
#include <limits>

MinMaxThinner::MinMaxThinner(double columnWidth, QVector<double>* keys, QVector<double>* values, bool continuing)
    : m_Width(columnWidth), m_Keys(keys), m_Values(values), m_Emitted(continuing) {}

int64_t MinMaxThinner::columnOf(double key, double columnWidth) {
    return static_cast<int64_t>(std::floor(key / columnWidth));
}

void MinMaxThinner::emitPoint(double key, double value) {
    m_Keys->append(key);
    m_Values->append(value);
    m_Emitted = true;
}

void MinMaxThinner::add(double key, double value, bool breakBefore) {
    if (breakBefore) {
        flush();
        if (m_Emitted) emitPoint(key, std::numeric_limits<double>::quiet_NaN());
    }
    if (m_Width <= 0) {
        emitPoint(key, value);
        return;
    }
    const int64_t column = columnOf(key, m_Width);
    if (m_Open && column != m_Column) flush();
    ++m_Order;
    if (!m_Open) {
        m_Open = true;
        m_Column = column;
        m_MinKey = m_MaxKey = key;
        m_MinValue = m_MaxValue = value;
        m_MinOrder = m_MaxOrder = m_Order;
        return;
    }
    if (value < m_MinValue) {
        m_MinKey = key;
        m_MinValue = value;
        m_MinOrder = m_Order;
    }
    if (value > m_MaxValue) {
        m_MaxKey = key;
        m_MaxValue = value;
        m_MaxOrder = m_Order;
    }
}

void MinMaxThinner::flush() {
    if (!m_Open) return;
    m_Open = false;
    if (m_MinOrder == m_MaxOrder) {
        emitPoint(m_MinKey, m_MinValue);
    } else if (m_MinOrder < m_MaxOrder) {
        emitPoint(m_MinKey, m_MinValue);
        emitPoint(m_MaxKey, m_MaxValue);
    } else {
        emitPoint(m_MaxKey, m_MaxValue);
        emitPoint(m_MinKey, m_MinValue);
    }
}

void MinMaxThinner::finish() { flush(); }
