#pragma once

// The helper's file and network restriction (Landlock), applied after it gave up root and before
// it reads a request. It may then read only what a transfer needs: the certificate files and
// folders (the system's, SSL_CERT_FILE and SSL_CERT_DIR), the resolver's and the name service's
// configuration, the folders of the libraries it has mapped, /dev/urandom and its own /proc
// entry. It can open nothing for writing, create, remove or rename nothing, bind no TCP port,
// signal no process and reach no abstract socket outside itself: what it writes goes to the
// descriptors it was given. A kernel without Landlock leaves the helper as the system-call
// filter alone keeps it.

namespace quarnel {

enum class FileAccess {
    Restricted,
    Unavailable,  // the kernel offers no Landlock (or it is turned off)
    Failed,       // offered, but the restriction could not be set up: the helper must not go on
};

FileAccess RestrictFileAccess();

}  // namespace quarnel
