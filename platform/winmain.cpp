// The product's entry point: the real Windows goes behind the seam, then the framework runs.
#include "afx.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    SetOs(&RealOs());
    return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
