"""Running on a real host: the caller's address behind a trusted reverse proxy."""
import shutil
import socket
import tempfile
import threading
import unittest

from support import KEY, MAC, PASSWORD, gbk_query, new_store_url
from vendorsvc.server import forwarded_client, serve


class ProxyTest(unittest.TestCase):
    def test_only_a_trusted_proxy_names_the_caller_and_the_remote_request_follows_that_address(self):
        proxy = ("127.0.0.1",)
        self.assertEqual("10.1.2.3", forwarded_client("127.0.0.1", {"X-Real-IP": " 10.1.2.3 "}, proxy))
        self.assertEqual("2001:db8::5", forwarded_client("127.0.0.1", {"X-Real-IP": "2001:db8::5"}, proxy))
        self.assertEqual("10.9.9.9", forwarded_client("10.9.9.9", {"X-Real-IP": "10.1.2.3"}, proxy))
        for named in ("", "10.1.2.3, 10.4.5.6", "a.example", "10.1.2.300"):
            self.assertEqual("127.0.0.1", forwarded_client("127.0.0.1", {"X-Real-IP": named}, proxy), named)

        # Through the real server: the heartbeat's named address is the one the request goes to.
        folder = tempfile.mkdtemp(prefix="vendorsvc-proxy-")
        self.addCleanup(shutil.rmtree, folder)
        server, service, stop = serve(folder, 0, sweep_interval=3600, admin_password=PASSWORD,
                                      trusted_proxies=["127.0.0.1"], store=new_store_url(self, folder))
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        self.addCleanup(service.store.close)
        self.addCleanup(stop.set)
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)

        def get(target, real_ip=None):
            with socket.create_connection(("127.0.0.1", server.server_address[1]), timeout=10) as s:
                s.sendall(b"GET " + target + b" HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
                          (b"X-Real-IP: " + real_ip + b"\r\n" if real_ip else b"") + b"\r\n")
                answer = b""
                while True:
                    chunk = s.recv(4096)
                    if not chunk:
                        return answer.partition(b"\r\n\r\n")[2]
                    answer += chunk
        now = get(b"/tavrick/timestamp.jsp").decode()
        self.assertEqual(b"ok", get(b"/tavrick/heartaction.do?" + gbk_query(
            stamp=KEY.encode(now), rad=now, mac=MAC, v="2.30", phone="", mail="", isdownmsg="0"), b"10.1.2.3"))
        service.store.put_remote_request(MAC, True, False, "pw", 0, False)
        self.assertEqual(b"", get(b"/tavrick/user/code.jsp?mac=" + MAC.encode()))  # the proxy's own address
        self.assertEqual(b"", get(b"/tavrick/user/code.jsp?mac=" + MAC.encode(), b"10.1.2.4"))
        self.assertEqual(b"1,0,pw", get(b"/tavrick/user/code.jsp?mac=" + MAC.encode(), b"10.1.2.3"))


if __name__ == "__main__":
    unittest.main()
