#include "platform/windows/wmi_registry.h"

#include <wbemidl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/windows/com_values.h"
#include "platform/windows/keep_answering.h"
#include "platform/windows/registry_links.h"
#include "platform/windows/win32_errors.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

// Read access to a SAFEARRAY's elements for the guard's life.
class SafeArrayData {
public:
    explicit SafeArrayData(SAFEARRAY* array) : array_(array) {
        ThrowIfFailed(SafeArrayAccessData(array_, &data_));
    }
    ~SafeArrayData() { SafeArrayUnaccessData(array_); }
    SafeArrayData(const SafeArrayData&) = delete;
    SafeArrayData& operator=(const SafeArrayData&) = delete;

    template <typename T>
    T* As() const { return static_cast<T*>(data_); }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

// Says what a failure kept the program from doing, for the report of one
// that no handler catches.
template <typename Call>
auto Doing(const char16_t* action, Call call) -> decltype(call()) {
    try {
        return call();
    } catch (PlatformError& error) {
        if (error.action().empty()) error.SetAction(action);
        throw;
    }
}
constexpr char16_t kReading[] = u"The registry could not be read.";
constexpr char16_t kChanging[] = u"The registry could not be changed.";

std::u16string FromBstr(BSTR text) {
    return text ? FromWide(std::wstring_view(text, SysStringLen(text))) : std::u16string();
}

}  // namespace

struct StdRegProvSchema {
    ComInit com;  // first member: COM outlives every pointer below
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemContext> context;
    ComPtr<IWbemClassObject> regClass;
    ComPtr<IWbemClassObject> enumKeyIn;
    ComPtr<IWbemClassObject> getStringValueIn;
    ComPtr<IWbemClassObject> deleteKeyIn;
};

namespace {

class StdRegProv final : public RegistryProvider {
public:
    StdRegProv(const std::wstring& nameSpace, DWORD impersonationLevel,
               std::shared_ptr<StdRegProvSchema> schema)
        : schema_(std::move(schema)) {
        // The locator and the call context are plain helpers, made once for
        // the service; the connection itself is new every time.
        if (!schema_->locator) {
            ThrowIfFailed(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_PPV_ARGS(&schema_->locator)));
        }
        const UniqueBstr path(nameSpace);
        ThrowIfFailed(schema_->locator->ConnectServer(path.get(), nullptr, nullptr, nullptr, 0,
                                                      nullptr, nullptr, &services_));
        ThrowIfFailed(CoSetProxyBlanket(services_.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE,
                                        nullptr, RPC_C_AUTHN_LEVEL_CALL, impersonationLevel,
                                        nullptr, EOAC_NONE));

        // The view ConnectStdRegProv promises.
        if (!schema_->context) {
            ComPtr<IWbemContext> context;
            ThrowIfFailed(CoCreateInstance(CLSID_WbemContext, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_PPV_ARGS(&context)));
            ThrowIfFailed(context->SetValue(L"__ProviderArchitecture", 0,
                                            UniqueVariant::Int32(32).get()));
            ThrowIfFailed(context->SetValue(L"__RequiredArchitecture", 0,
                                            UniqueVariant::Bool(true).get()));
            schema_->context = context;
        }

        if (!schema_->regClass) {
            ThrowIfFailed(services_->GetObject(className_.get(), 0, nullptr, &schema_->regClass, nullptr));
        }
    }

    int32_t EnumKey(int32_t hive, const std::u16string& path, std::vector<std::u16string>& names) override {
        return Doing(kReading, [&] { return ListKeys(hive, path, names); });
    }
    int32_t GetStringValue(int32_t hive, const std::u16string& path, const std::u16string& valueName,
                           std::u16string& value) override {
        return Doing(kReading, [&] { return ReadString(hive, path, valueName, value); });
    }
    int32_t DeleteKey(int32_t hive, const std::u16string& path) override {
        return Doing(kChanging, [&] { return Delete(hive, path); });
    }
    // StdRegProv has no word for links: they are judged beside it.
    std::optional<std::u16string> LinkTarget(int32_t hive, const std::u16string& path) override {
        return Doing(kReading, [&] { return RegistryLinkTarget(hive, path); });
    }
    std::optional<int32_t> DeleteLink(int32_t hive, const std::u16string& path) override {
        return Doing(kChanging, [&] { return DeleteRegistryLink(hive, path); });
    }

private:
    int32_t ListKeys(int32_t hive, const std::u16string& path, std::vector<std::u16string>& names) {
        names.clear();
        ComPtr<IWbemClassObject> in = Spawn(Signature(schema_->enumKeyIn, L"EnumKey"));
        Put(in.Get(), L"hDefKey", UniqueVariant::Int32(hive));
        Put(in.Get(), L"sSubKeyName", UniqueVariant::String(ToWide(path)));
        ComPtr<IWbemClassObject> out = Exec(enumKeyName_, in.Get());
        const int32_t code = ReturnValue(out.Get());
        if (code != 0) {
            return code;
        }
        UniqueVariant list;
        ThrowIfFailed(out->Get(L"sNames", 0, list.put(), nullptr, nullptr));
        // A key without subkeys gives no array at all.
        if (list.type() == VT_NULL || list.type() == VT_EMPTY) {
            return code;
        }
        if (list.type() != (VT_ARRAY | VT_BSTR)) {
            ThrowError(static_cast<uint32_t>(WBEM_E_TYPE_MISMATCH));
        }
        SAFEARRAY* array = list.get()->parray;
        LONG lower = 0;
        LONG upper = -1;
        ThrowIfFailed(SafeArrayGetLBound(array, 1, &lower));
        ThrowIfFailed(SafeArrayGetUBound(array, 1, &upper));
        const SafeArrayData data(array);
        const BSTR* items = data.As<BSTR>();
        names.reserve(static_cast<size_t>(upper - lower + 1));
        for (LONG i = 0; i <= upper - lower; ++i) {
            names.push_back(FromBstr(items[i]));
        }
        return code;
    }

    int32_t ReadString(int32_t hive, const std::u16string& path, const std::u16string& valueName, std::u16string& value) {
        ComPtr<IWbemClassObject> in = Spawn(Signature(schema_->getStringValueIn, L"GetStringValue"));
        Put(in.Get(), L"hDefKey", UniqueVariant::Int32(hive));
        Put(in.Get(), L"sSubKeyName", UniqueVariant::String(ToWide(path)));
        Put(in.Get(), L"sValueName", UniqueVariant::String(ToWide(valueName)));
        ComPtr<IWbemClassObject> out = Exec(getStringValueName_, in.Get());
        const int32_t code = ReturnValue(out.Get());
        if (code != 0) {
            return code;
        }
        UniqueVariant result;
        ThrowIfFailed(out->Get(L"sValue", 0, result.put(), nullptr, nullptr));
        if (result.type() == VT_BSTR) {
            value = FromBstr(result.get()->bstrVal);
        } else if (result.type() == VT_NULL || result.type() == VT_EMPTY) {
            value.clear();
        } else {
            ThrowError(static_cast<uint32_t>(WBEM_E_TYPE_MISMATCH));
        }
        return code;
    }

    int32_t Delete(int32_t hive, const std::u16string& path) {
        ComPtr<IWbemClassObject> in = Spawn(Signature(schema_->deleteKeyIn, L"DeleteKey"));
        Put(in.Get(), L"hDefKey", UniqueVariant::Int32(hive));
        Put(in.Get(), L"sSubKeyName", UniqueVariant::String(ToWide(path)));
        ComPtr<IWbemClassObject> out = Exec(deleteKeyName_, in.Get());
        return ReturnValue(out.Get());
    }

    static ComPtr<IWbemClassObject> InSignature(IWbemClassObject* regClass, const wchar_t* method) {
        ComPtr<IWbemClassObject> signature;
        ThrowIfFailed(regClass->GetMethod(method, 0, &signature, nullptr));
        if (!signature) {
            ThrowError(static_cast<uint32_t>(WBEM_E_INVALID_METHOD_PARAMETERS));
        }
        return signature;
    }

    // A method's signature is looked up on its first call and kept in the
    // schema: a deletion level needs only one or two of the three.
    IWbemClassObject* Signature(ComPtr<IWbemClassObject>& slot, const wchar_t* method) {
        if (!slot) {
            slot = InSignature(schema_->regClass.Get(), method);
        }
        return slot.Get();
    }

    static ComPtr<IWbemClassObject> Spawn(IWbemClassObject* signature) {
        ComPtr<IWbemClassObject> in;
        ThrowIfFailed(signature->SpawnInstance(0, &in));
        return in;
    }

    // hDefKey is uint32 in the class, yet the provider takes the hive as a
    // signed VT_I4 and refuses VT_UI4 with a type mismatch.
    static void Put(IWbemClassObject* in, const wchar_t* name, UniqueVariant value) {
        ThrowIfFailed(in->Put(name, 0, value.get(), 0));
    }

    ComPtr<IWbemClassObject> Exec(const UniqueBstr& method, IWbemClassObject* in) {
        KeepAnswering();
        ComPtr<IWbemClassObject> out;
        ThrowIfFailed(services_->ExecMethod(className_.get(), method.get(), 0, schema_->context.Get(), in,
                                            &out, nullptr));
        if (!out) {
            ThrowError(static_cast<uint32_t>(WBEM_E_FAILED));
        }
        return out;
    }

    // The provider's own code, passed on as it is: callers decide what it means.
    static int32_t ReturnValue(IWbemClassObject* out) {
        UniqueVariant code;
        ThrowIfFailed(out->Get(L"ReturnValue", 0, code.put(), nullptr, nullptr));
        switch (code.type()) {
        case VT_I4: return code.get()->lVal;
        case VT_UI4: return static_cast<int32_t>(code.get()->ulVal);
        default:
            ThrowIfFailed(VariantChangeType(code.get(), code.get(), 0, VT_I4));
            return code.get()->lVal;
        }
    }

    ComInit com_;  // first member: COM outlives every pointer below
    std::shared_ptr<StdRegProvSchema> schema_;
    ComPtr<IWbemServices> services_;
    UniqueBstr className_{L"StdRegProv"};
    UniqueBstr enumKeyName_{L"EnumKey"};
    UniqueBstr getStringValueName_{L"GetStringValue"};
    UniqueBstr deleteKeyName_{L"DeleteKey"};
};

}  // namespace

std::shared_ptr<StdRegProvSchema> MakeStdRegProvSchema() {
    return std::make_shared<StdRegProvSchema>();
}

std::unique_ptr<RegistryProvider> ConnectStdRegProv(const std::wstring& nameSpace,
                                                    DWORD impersonationLevel,
                                                    std::shared_ptr<StdRegProvSchema> schema) {
    return Doing(kReading, [&]() -> std::unique_ptr<RegistryProvider> {
        return std::make_unique<StdRegProv>(nameSpace, impersonationLevel, std::move(schema));
    });
}

}  // namespace clearstrand::win32
