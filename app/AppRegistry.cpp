#include "app/AppRegistry.h"

#include "app/AppIdentity.h"
#include "store/RegistryKey.h"
#include "store/StoreKey.h"

namespace pm {

namespace {

std::string keyPath(std::string_view subkey) {
    std::string path = kProgramKey;
    if (!subkey.empty()) {
        path += '\\';
        path += subkey;
    }
    return path;
}

}  // namespace

AppRegistry::AppRegistry()
    : AppRegistry(RegistryKey::rootFile(RegistryKey::Root::User),
                  RegistryKey::rootFile(RegistryKey::Root::Machine)) {}

AppRegistry::AppRegistry(std::filesystem::path userFile, std::filesystem::path machineFile)
    : m_userFile(std::move(userFile)), m_machineFile(std::move(machineFile)) {}

const std::filesystem::path& AppRegistry::file(Root root) const {
    return root == Root::User ? m_userFile : m_machineFile;
}

StoreKeyPtr AppRegistry::open(Root root, bool writable) const {
    std::string why;
    StoreKeyPtr key = RegistryKey::openFile(file(root), !writable || root == Root::Machine, &why);
    if (!key) {
        m_lastError = file(root).string() + ": " + why;
    }
    return key;
}

StoreKeyPtr AppRegistry::openRoot(Root root) const {
    return open(root, false);
}

StoreKeyPtr AppRegistry::openKey(Root root, std::string_view subkey, bool writable) const {
    StoreKeyPtr rootKey = open(root, writable);
    if (!rootKey) {
        return nullptr;
    }
    return writable ? rootKey->createPath(keyPath(subkey)) : rootKey->openPath(keyPath(subkey));
}

std::optional<std::string> AppRegistry::readString(Root root, std::string_view subkey,
                                                   std::string_view name) const {
    StoreKeyPtr key = openKey(root, subkey, false);
    if (!key || key->valueType(name) != ValueType::String) {
        return std::nullopt;
    }
    return key->readString(name);
}

std::optional<std::uint32_t> AppRegistry::readDword(Root root, std::string_view subkey,
                                                    std::string_view name) const {
    if (auto value = readInt(root, subkey, name)) {
        return static_cast<std::uint32_t>(*value);
    }
    return std::nullopt;
}

std::optional<std::int32_t> AppRegistry::readInt(Root root, std::string_view subkey,
                                                 std::string_view name) const {
    StoreKeyPtr key = openKey(root, subkey, false);
    std::int32_t value = 0;
    if (!key || key->getRaw(ValueType::Int, name, &value, sizeof value, nullptr) !=
                    static_cast<std::int64_t>(sizeof value)) {
        return std::nullopt;
    }
    return value;
}

bool AppRegistry::writeString(std::string_view subkey, std::string_view name,
                              std::string_view value) {
    StoreKeyPtr key = openKey(Root::User, subkey, true);
    return key && key->setString(name, value) != 0 && flushUser();
}

bool AppRegistry::writeDword(std::string_view subkey, std::string_view name, std::uint32_t value) {
    StoreKeyPtr key = openKey(Root::User, subkey, true);
    return key && key->setInt(name, static_cast<std::int32_t>(value)) != 0 && flushUser();
}

bool AppRegistry::deleteUserValue(std::string_view subkey, std::string_view name) {
    StoreKeyPtr key = openKey(Root::User, subkey, true);
    return key && key->deleteValue(name) != 0 && flushUser();
}

StoreKeyPtr AppRegistry::openUserKey(std::string_view subkey, bool writable) const {
    return openKey(Root::User, subkey, writable);
}

bool AppRegistry::flushUser() const {
    StoreKeyPtr key = open(Root::User, true);
    return key && static_cast<RegistryKey&>(*key).flush();
}

}  // namespace pm
