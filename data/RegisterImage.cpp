#include "data/RegisterImage.h"

RegisterImage::RegisterImage(QObject* parent) : QObject(parent) {}

void RegisterImage::copy(int reg, uint8_t* dest, int len) const {
    for (int i = 0; i < len; ++i) dest[i] = value(reg + i);
}

void RegisterImage::store(int reg, const uint8_t* bytes, int len) {
    for (int i = 0; i < len; ++i) {
        const int a = (reg + i) & 0xFF;
        if (m_Bytes[a].exchange(bytes[i], std::memory_order_relaxed) != bytes[i]) emit valueChanged(a);
    }
}

void RegisterImage::clear() {
    for (auto& b : m_Bytes) b.store(0, std::memory_order_relaxed);
}
