// Compiled into every program and module that links avs_dshow (an interface source), so
// that CoCreateInstance finds the runtime's classes without registry entries.
#include "dshow/runtime.h"

namespace avs::dshow {
HRESULT CreateFilterGraphInstance(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateFilterMapperInstance(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateAsyncReaderInstance(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateNullRendererInstance(IUnknown* outer, REFIID riid, void** ppv);
}  // namespace avs::dshow

namespace {

HRESULT CreateMemAllocator(IUnknown* outer, REFIID riid, void** ppv) {
    HRESULT hr = S_OK;
    CUnknown* a = CMemAllocator::CreateInstance(outer, &hr);
    return HandOutNewObject(a, hr, riid, ppv);
}

const bool kRegistered = [] {
    avs::com::RegisterBuiltinClass(CLSID_FilterGraph, avs::dshow::CreateFilterGraphInstance);
    avs::com::RegisterBuiltinClass(CLSID_FilterMapper2, avs::dshow::CreateFilterMapperInstance);
    avs::com::RegisterBuiltinClass(CLSID_AsyncReader, avs::dshow::CreateAsyncReaderInstance);
    avs::com::RegisterBuiltinClass(CLSID_NullRenderer, avs::dshow::CreateNullRendererInstance);
    avs::com::RegisterBuiltinClass(CLSID_MemoryAllocator, CreateMemAllocator);
    return true;
}();

}  // namespace
