#include "PortPath.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string PortDevicePath(const std::string& name)
{
    return name.empty() || name[0] == '/' ? name : "/dev/" + name;
}

std::string PortPathForPeople(const std::string& name)
{
    return PortDevicePath(name);
}

bool SameDevicePath(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    // std::filesystem::equivalent refuses device files; stat tells for them too.
    struct stat statA {};
    struct stat statB {};
    return ::stat(a.c_str(), &statA) == 0 && ::stat(b.c_str(), &statB) == 0 && statA.st_dev == statB.st_dev &&
           statA.st_ino == statB.st_ino;
}

std::string PortGroup(const std::string& path)
{
    // Only a group the port lets read and write is worth joining; root's is not.
    struct stat st {};
    const mode_t groupReadWrite = S_IRGRP | S_IWGRP;
    if (::stat(path.c_str(), &st) == 0 && st.st_gid != 0 && (st.st_mode & groupReadWrite) == groupReadWrite) {
        // The ports of a several-port run ask this on their own threads:
        // getgrgid's shared record would be overwritten under them.
        long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 1024);
        struct group entry {};
        struct group* found = nullptr;
        int error;
        while ((error = ::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
               buffer.size() < (1u << 20))
            buffer.resize(buffer.size() * 2);
        if (error == 0 && found)
            return found->gr_name;
    }
    return "dialout";
}
