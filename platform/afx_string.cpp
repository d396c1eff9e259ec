// CString: an ANSI string whose search respects double-byte characters.
#include "afx.h"

const CString& CString::operator=(LPCSTR text)
{
    if (text)
        m_str.assign(text);
    else
        m_str.clear();
    return *this;
}

const CString& CString::operator=(const CString& other)
{
    if (this != &other)
        m_str = other.m_str;
    return *this;
}

int CString::Find(LPCSTR sub) const
{
    if (!sub)
        return -1;
    const size_t subLength = std::strlen(sub);
    const size_t length = m_str.size();
    // Walk character by character, so that under a double-byte code page a match can start
    // only on a lead byte or a single-byte character, never on a trail byte.
    for (size_t i = 0; i + subLength <= length;) {
        if (m_str.compare(i, subLength, sub) == 0)
            return static_cast<int>(i);
        if (os().IsDBCSLeadByte(static_cast<BYTE>(m_str[i])) && i + 1 < length)
            i += 2;
        else
            i += 1;
    }
    return -1;
}

int CString::Find(char ch) const
{
    const char sub[2] = { ch, '\0' };
    return Find(sub);
}
