// The root object and the framework's allocator.
#include "afx.h"

const CRuntimeClass CObject::classCObject = { "CObject", sizeof(CObject), nullptr };

const CRuntimeClass* CObject::GetRuntimeClass() const
{
    return &classCObject;
}

void* AfxAllocate(size_t bytes)
{
    void* block = os().Allocate(bytes);
    if (!block)
        AfxThrowMemoryException();
    return block;
}

void AfxFree(void* block)
{
    if (block)
        os().Free(block);
}
