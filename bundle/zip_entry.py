"""One entry of a bundle archive as the build scripts write it: deflated,
with a fixed date and a Unix mode (so an extracted program stays runnable
on POSIX)."""
import zipfile


def add_entry(archive, name, data, mode=0o644):
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
    info.create_system = 3
    info.external_attr = (0o100000 | mode) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data)
