// A module linked like the provider, with COM delay-loaded: describing a COM error's text loads
// ole32.dll and oleaut32.dll on first use.
#include <windows.h>

#include <oleauto.h>

__declspec(dllexport) int describeComText(void) {
  IErrorInfo* info = NULL;
  if (GetErrorInfo(0, &info) == S_OK && info != NULL) info->lpVtbl->Release(info);
  BSTR text = SysAllocString(L"delay");
  const int length = (int)SysStringLen(text);
  SysFreeString(text);
  return length;
}
