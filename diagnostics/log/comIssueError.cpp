// MinGW declares the COM support's error raisers but ships no library that defines them; the one
// with error information is defined here, raising _com_error as the compiler's COM support does.
#include <comdef.h>

#ifndef _MSC_VER
void WINAPI _com_issue_errorex(HRESULT result, IUnknown* object, REFIID interfaceId) {
  IErrorInfo* info = nullptr;
  ISupportErrorInfo* support = nullptr;
  if (object != nullptr &&
      SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)))) {
    if (support->InterfaceSupportsErrorInfo(interfaceId) == S_OK && GetErrorInfo(0, &info) != S_OK) info = nullptr;
    support->Release();
  }
  // The raiser in use (by default one that throws _com_error) takes over the reference that
  // GetErrorInfo handed out.
  __mingw_com_error_handler(result, info);
}
#endif
