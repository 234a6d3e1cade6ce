"""A real Mosquitto for a test or a benchmark: a generated configuration on a free loopback
port, a password file (hashed by mosquitto_passwd -U, so no password is on a command line) with
a credentials file per user, the caller's ACL, TLS when given a certificate, and persistence
when asked (the broker then keeps sessions, queues and retained messages across a stop and a
start, as the fleet's brokers must). The port is kept across a stop and a start.

Import it with the folder on the path:
    sys.path.insert(0, os.path.join(<repository>, "tests", "support"))
    from test_broker import TestBroker
"""
import os
import socket
import subprocess
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def can_connect(port):
    try:
        socket.create_connection(("127.0.0.1", port), 0.2).close()
        return True
    except OSError:
        return False


class TestBroker:
    __test__ = False  # a harness, not a test case

    def __init__(self, root, users=(), acl=None, persistence=False, cert=None, key=None,
                 autosave_interval=60, max_queued_messages=1000000, max_inflight_messages=100):
        """users: (name, password) pairs, none for an anonymous broker; acl: the ACL file's
        text; persistence: kept in root/data, saved every autosave_interval seconds, with a
        queue of max_queued_messages per client."""
        self.root = root
        os.makedirs(root, exist_ok=True)
        self.port = free_port()
        self.tls = cert is not None
        self.proc = None
        self.log_path = os.path.join(root, "broker.log")
        self.conf_path = os.path.join(root, "mosquitto.conf")
        lines = ["listener %d 127.0.0.1" % self.port]
        if cert:
            lines += ["certfile " + cert, "keyfile " + key]
        if users:
            passwd = os.path.join(root, "passwd")
            with open(passwd, "w") as f:
                for name, password in users:
                    f.write("%s:%s\n" % (name, password))
            os.chmod(passwd, 0o600)
            subprocess.run(["mosquitto_passwd", "-U", passwd], check=True, capture_output=True)
            for name, password in users:
                path = self.credentials_file(name)
                with open(path, "w") as f:
                    f.write("%s\n%s\n" % (name, password))
                os.chmod(path, 0o600)
            lines += ["allow_anonymous false", "password_file " + passwd]
        else:
            lines.append("allow_anonymous true")
        if acl is not None:
            acl_path = os.path.join(root, "acl")
            with open(acl_path, "w") as f:
                f.write(acl)
            lines.append("acl_file " + acl_path)
        if persistence:
            data = os.path.join(root, "data")
            os.makedirs(data, exist_ok=True)
            lines += ["persistence true", "persistence_location %s/" % data,
                      "autosave_interval %d" % autosave_interval,
                      "max_queued_messages %d" % max_queued_messages,
                      "max_inflight_messages %d" % max_inflight_messages]
        else:
            lines.append("persistence false")
        # Started by root (a container's run), mosquitto would drop to its own user, which
        # cannot read this private folder.
        if os.geteuid() == 0:
            lines.append("user root")
        with open(self.conf_path, "w") as f:
            f.write("\n".join(lines) + "\n")

    @property
    def url(self):
        return "%s://127.0.0.1:%d" % ("mqtts" if self.tls else "mqtt", self.port)

    def credentials_file(self, user):
        """The credentials file of user ("name\\npassword\\n", private), as the programs
        read it."""
        return os.path.join(self.root, "cred-" + user)

    def start(self, timeout=10):
        """Starts the broker and waits until it accepts connections; its standard error goes
        to broker.log. Returns the process."""
        self.proc = subprocess.Popen(["mosquitto", "-c", self.conf_path],
                                     stdout=subprocess.DEVNULL, stderr=open(self.log_path, "a"))
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if can_connect(self.port):
                return self.proc
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError("mosquitto did not start; see " + self.log_path)

    def stop(self, timeout=60):
        """TERM: a broker with persistence saves what it keeps on the way out."""
        if self.proc:
            self.proc.terminate()
            self.proc.wait(timeout)
            self.proc = None
